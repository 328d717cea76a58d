// Runs of the real estimators through the front end's orchestration, on small decks. Only what
// holds for every complete run is checked: the report reaches the output path and the work
// folder keeps nothing but a staged deck; and a bad deck's message names the user's file.
#include "oruk/core/runorchestrator.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace oruk;

namespace {

// Eight cases: three binary items and one factor; four binary items and two classes.
const QByteArray kTraitDeck = "Three binary items\n8 3 0 0 0 8\n\n\n1 0 20 1 0.0001 0\n"
                              "1 0 1\n1 1 1\n0 0 1\n1 1 0\n0 0 0\n1 0 0\n0 1 1\n1 1 1\n";
const QByteArray kClassDeck = "Four binary items\n8 2 4 0 0 0 0 0 0 0\n0.0001 200 0\n1 1 1 1\n"
                              "1 1 1 0\n0 0 0 0\n0 0 1 0\n1 1 0 1\n0 0 0 1\n1 1 1 1\n0 1 0 0\n";

void checkRun(const QString& estimators, Estimator estimator, const QByteArray& deck,
              const QStringList& leftInWork) {
    QTemporaryDir root;
    QDir(root.path()).mkdir("work");
    QFile file(root.filePath("deck.inp"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(deck) == deck.size());
    file.close();
    RunOrchestrator runs(estimators, root.filePath("work"));
    std::optional<RunOutcome> outcome;
    QObject::connect(&runs, &RunOrchestrator::finished, [&](const RunOutcome& o) { outcome = o; });
    QCOMPARE(runs.start(estimator, {file.fileName(), "report.out", true}), StartResult::Started);
    QVERIFY(QTest::qWaitFor([&] { return outcome.has_value(); }, 600000));
    QVERIFY2(outcome->result == RunResult::Completed,
             qPrintable(outcome->problem + "\n" + outcome->consoleOutput));
    QVERIFY(QFileInfo(root.filePath("report.out")).size() > 0);
    QCOMPARE(QDir(root.filePath("work")).entryList(QDir::Files | QDir::Hidden), leftInWork);
}

} // namespace

class EstimatorsTest : public QObject {
    Q_OBJECT

  private slots:
    void traitTabRun() {
#ifdef TRAVIK_FOLDER
        checkRun(QStringLiteral(TRAVIK_FOLDER), Estimator::Trait, kTraitDeck, {});
#else
        QSKIP("travik is not part of this build");
#endif
    }

    void classTabRun() {
#ifdef PLOVEN_FOLDER
        checkRun(QStringLiteral(PLOVEN_FOLDER), Estimator::Class, kClassDeck, {});
#else
        QSKIP("ploven is not part of this build");
#endif
    }

    void classTabInputErrorNamesTheUsersFile() {
#ifdef PLOVEN_FOLDER
        QTemporaryDir root;
        QDir(root.path()).mkdir("work");
        QFile file(root.filePath("my deck.inp"));
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("Title\n8 two 4 0 0 0 0 0 0 0\n") > 0);
        file.close();
        RunOrchestrator runs(QStringLiteral(PLOVEN_FOLDER), root.filePath("work"));
        std::optional<RunOutcome> outcome;
        QObject::connect(&runs, &RunOrchestrator::finished,
                         [&](const RunOutcome& o) { outcome = o; });
        QCOMPARE(runs.start(Estimator::Class, {file.fileName(), "report.out"}),
                 StartResult::Started);
        QVERIFY(QTest::qWaitFor([&] { return outcome.has_value(); }, 600000));
        QCOMPARE(outcome->ending.ending, RunEnding::Failed);
        QCOMPARE(outcome->exitCode, 2);
        QVERIFY2(outcome->ending.detail.contains("my deck.inp line 2"),
                 qPrintable(outcome->ending.detail));
        QVERIFY(!QFile::exists(root.filePath("report.out")));
#else
        QSKIP("ploven is not part of this build");
#endif
    }
};

QTEST_GUILESS_MAIN(EstimatorsTest)
#include "estimators_test.moc"
