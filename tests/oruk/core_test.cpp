// Pieces of the front end's core: the single-instance lock, the rounding of run times, the
// progress read from the trait estimator's progress file, and the editor command line.
#include "oruk/core/editor.hpp"
#include "oruk/core/instancelock.hpp"
#include "oruk/core/progress.hpp"
#include "oruk/core/runstatus.hpp"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace oruk;

class CoreTest : public QObject {
    Q_OBJECT

  private slots:
    void secondInstanceIsRefusedUntilTheFirstEnds() {
        QTemporaryDir dir;
        {
            InstanceLock first(dir.path()), second(dir.path());
            QVERIFY(first.acquire());
            QVERIFY(!second.acquire());
        }
        QVERIFY(InstanceLock(dir.path()).acquire());

        // A lock naming a process that has ended, as a crashed front end leaves it.
        QProcess ended;
        ended.start(QStringLiteral(FAKE_EDITOR), {"record", dir.filePath("unused")});
        QVERIFY(ended.waitForStarted(30000));
        const qint64 pid = ended.processId();
        QVERIFY(ended.waitForFinished(30000));
        QFile lock(dir.filePath(InstanceLock::fileName()));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + "\noruk\n" + QSysInfo::machineHostName().toUtf8() +
                   "\n");
        lock.close();
        QVERIFY(InstanceLock(dir.path()).acquire());
    }

    void secondsAreRoundedHalfUp() {
        QCOMPARE(roundedSeconds(400), qint64(0));
        QCOMPARE(roundedSeconds(499), qint64(0));
        QCOMPARE(roundedSeconds(500), qint64(1));
        QCOMPARE(roundedSeconds(1499), qint64(1));
        QCOMPARE(roundedSeconds(1500), qint64(2));
    }

    void latestCycleOfTheProgressFile() {
        const QByteArray cycles = " *** PROGRAM EM1 BEGIN ***\n"
                                  "    1   -0.12345    -1503.12345\n"
                                  "   10   -0.00001    -1497.00001\n";
        const CycleProgress tenth{10, "-1497.00001"};
        QCOMPARE(latestCycle(cycles), tenth);
        QCOMPARE(latestCycle(cycles + "\n\n *** ITERATIONS FINISHED ***\n\n ITERATIONS FINISHED\n"),
                 tenth);
        QCOMPARE(latestCycle(cycles + "   11   -0.0000"), tenth); // still being written
        QCOMPARE(latestCycle(cycles + "   11   -0.00001***************\n"), tenth);
        QCOMPARE(latestCycle(cycles + "   11 **********    -1496.50000\n"),
                 (CycleProgress{11, "-1496.50000"}));
        QVERIFY(!latestCycle(" *** PROGRAM EM2 BEGIN ***\n\n").has_value());
    }

    void editorCommandKeepsTheFileWhole() {
        const QString file = "/home/ann/my decks/\"odd\" name.out";
        const auto command = editorCommand("  kate   -n ", file);
        QVERIFY(command.has_value());
        QCOMPARE(command->program, QString("kate"));
        QCOMPARE(command->arguments, (QStringList{"-n", file}));
        QVERIFY(!editorCommand("   ", file).has_value());

        // A chosen program goes into the setting quoted only when it must be.
        QCOMPARE(quotedProgram("/usr/bin/gedit"), QString("/usr/bin/gedit"));
        for (const QString& program : {QString("/opt/My Editor/ed"), QString("/opt/\"q\"/e d")}) {
            QCOMPARE(editorCommand(quotedProgram(program), file)->program, program);
        }
        QCOMPARE(openInEditor("gedit", QString()), OpenResult::NoFile);
        QCOMPARE(openInEditor("/no/such/editor", file), OpenResult::NoEditor);
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "core_test.moc"
