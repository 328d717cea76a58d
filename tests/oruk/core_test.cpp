// Pieces of the front end's core: the single-instance lock, the rounding of run times, the
// progress read from the estimators' progress files, and the editor command line.
#include "oruk/core/editor.hpp"
#include "oruk/core/instancelock.hpp"
#include "oruk/core/progress.hpp"
#include "oruk/core/runending.hpp"
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
        // One second is singular, in every ending.
        const EstimatorProfile& trait = profileOf(Estimator::Trait);
        QCOMPARE(doneText(trait, 1), QString("TRAVIK finished in 1 second"));
        QCOMPARE(endedText(trait, RunEnding::Cancelled, 1),
                 QString("TRAVIK run cancelled after 1 second"));
        QCOMPARE(failedText(trait, 0), QString("TRAVIK run failed after 0 seconds"));
        QCOMPARE(endedText(trait, RunEnding::Diverged, 2),
                 QString("TRAVIK diverged after 2 seconds"));
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

    void progressFileFollowedAsItGrows() {
        // travik: the cycle against the deck's MAXIT; a file fed in pieces of any size.
        ProgressTracker trait(Estimator::Trait, 500);
        const QByteArray text = " *** PROGRAM EM1 BEGIN ***\n    1   -0.12345    -1503.12345\n"
                                "    2   -0.00100    -1501.50000\n";
        for (qsizetype at = 0; at < text.size(); at += 7)
            trait.feed(QByteArrayView(text).sliced(at, qMin<qsizetype>(7, text.size() - at)));
        QCOMPARE(*trait.progress(),
                 (RunProgress{"Cycle 2 of 500, loglikelihood -1501.50000", 2, 500}));
        QCOMPARE(trait.history().size(), std::size_t(1));
        QCOMPARE(trait.history()[0].points, (std::vector<QPointF>{{1, -1503.12345}, {2, -1501.5}}));
        trait.feed("    3   -0.0000"); // half a line changes nothing yet
        QCOMPARE(trait.progress()->value, qint64(2));
        trait.feed("1    -1501.40000\n *** ITERATIONS FINISHED ***\n");
        QCOMPARE(trait.progress()->value, qint64(3));
        QCOMPARE(ProgressTracker(Estimator::Trait, 0).progress(), std::optional<RunProgress>());

        // ploven: the band start against the full cap, then the random starts counted.
        ProgressTracker classes(Estimator::Class, 3000);
        classes.feed(" RUN 1 OF 21 CYCLES AT MOST 3000\n CYCLE 1 LOGLIKELIHOOD -20.5\n");
        QCOMPARE(*classes.progress(),
                 (RunProgress{"Start from the class bands, cycle 1 of 3000, loglikelihood -20.5", 1,
                              3000}));
        classes.feed(" CYCLE 2 LOGLIKELIHOOD -19.25\n RUN 2 OF 21 CYCLES AT MOST 50\n");
        QCOMPARE(*classes.progress(), (RunProgress{"Random start 1 of 16", 0, 16}));
        classes.feed(" CYCLE 1 LOGLIKELIHOOD -30\n CYCLE x LOGLIKELIHOOD -1\n RUN 3 OF\n");
        QCOMPARE(classes.progress()->text,
                 QString("Random start 1 of 16, cycle 1 of 50, loglikelihood -30"));
        QCOMPARE(classes.history().size(), std::size_t(2));
        QCOMPARE(classes.history()[0].name, QString("Run 1 of 21"));
        QCOMPARE(classes.history()[0].points.size(), std::size_t(2));
        QCOMPARE(classes.history()[1].points, (std::vector<QPointF>{{1, -30}}));
        classes.feed(" SIMULATION SAMPLE 7 OF 100\n");
        QCOMPARE(*classes.progress(), (RunProgress{"Simulation sample 7 of 100", 7, 100}));
        // Cycles with no run line before them (a single start) form one run under the deck's cap.
        ProgressTracker single(Estimator::Class, 3000);
        single.feed(" CYCLE 4 LOGLIKELIHOOD -7.5\n");
        QCOMPARE(*single.progress(), (RunProgress{"Cycle 4 of 3000, loglikelihood -7.5", 4, 3000}));
    }

    void newtonStepsContinueTheCyclesOfTheRun() {
        // Accelerated EM numbers its lines by the cycles spent; the Newton steps after EM follow
        // as lines of the same run.
        ProgressTracker trait(Estimator::Trait, 500);
        trait.feed("   10     -0.00001       -5975.74245\n   12     -0.00002       -5975.59726\n"
                   "   13     -0.00000       -5974.66894\n\n *** ITERATIONS FINISHED ***\n");
        QCOMPARE(*trait.progress(),
                 (RunProgress{"Cycle 13 of 500, loglikelihood -5974.66894", 13, 500}));
        QCOMPARE(trait.history().size(), std::size_t(1));
    }

    void endingsWithoutAResultsFileAreToldByTheEstimatorsWords() {
        EndingFacts facts;
        facts.exitCode = 1;
        facts.reportErrorLine = "*** ERROR *** MAXIMUM NUMBER OF ITERATIONS EXECUTED";
        QCOMPARE(describeEnding(facts).ending, RunEnding::NoConvergence);
        facts.reportErrorLine.clear();
        facts.standardError = "travik: the iterative procedure diverged: ...";
        QCOMPARE(describeEnding(facts).ending, RunEnding::Diverged);
        facts.standardError = "something unexpected";
        QCOMPARE(describeEnding(facts).ending, RunEnding::Failed);
        // A status nobody knows is no success, whatever the exit status.
        facts.exitCode = 0;
        facts.resultsStatus = "splendid";
        QCOMPARE(describeEnding(facts).ending, RunEnding::Failed);
        QCOMPARE(reportErrorLine("  TITLE\n   ** ERROR: NON-BINARY VARIABLE **  OBS=   7\n"),
                 QString("** ERROR: NON-BINARY VARIABLE **  OBS=   7"));
        QCOMPARE(firstLines("a\n\nb\nc\nd\ne\nf\ng\n"), QString("a\nb\nc\nd\ne\n..."));
    }

    void theEstimatorsMessageIsSaidOnce() {
        // As travik rejects a deck: the same words in the results file, behind its name on
        // standard error, and in the report; another line on standard error is kept.
        EndingFacts facts;
        facts.exitCode = 1;
        facts.resultsStatus = "rejected";
        facts.resultsMessage = "***ERROR***  THE NUMBER OF QUADRATURE POINTS IS NOT 8";
        facts.standardError = "travik: " + facts.resultsMessage + "\ntravik: see deck.inp line 2\n";
        facts.reportErrorLine = facts.resultsMessage;
        const EndingShown shown = describeEnding(facts);
        QCOMPARE(shown.ending, RunEnding::Rejected);
        QCOMPARE(shown.detail, facts.resultsMessage + "\ntravik: see deck.inp line 2");
    }
};

QTEST_GUILESS_MAIN(CoreTest)
#include "core_test.moc"
