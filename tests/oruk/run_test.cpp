// Run orchestration against stand-in estimators that write known files, wait, fail or crash.
#include "oruk/core/runorchestrator.hpp"
#include "oruk/core/runstatus.hpp"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace oruk;

namespace {

void writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(text);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A work folder, a deck folder with a blank in its name, and an orchestrator running the
// stand-ins that records what it reports.
struct Bench {
    QTemporaryDir root;
    QString work = root.filePath("work"), decks = root.filePath("my decks");
    std::unique_ptr<RunOrchestrator> runs;
    std::optional<RunOutcome> outcome;
    QStringList statuses;
    int runningChanges = 0;

    explicit Bench(const QString& estimators = FAKE_ESTIMATOR_DIR) {
        QDir().mkpath(work);
        QDir().mkpath(decks);
        runs = std::make_unique<RunOrchestrator>(estimators, work);
        QObject::connect(runs.get(), &RunOrchestrator::finished,
                         [this](const RunOutcome& o) { outcome = o; });
        QObject::connect(runs.get(), &RunOrchestrator::statusChanged,
                         [this](Estimator, const QString& text) { statuses << text; });
        QObject::connect(runs.get(), &RunOrchestrator::runningChanged,
                         [this] { ++runningChanges; });
    }
    QString inWork(const QString& name) const { return QDir(work).filePath(name); }
    QString inDecks(const QString& name) const { return QDir(decks).filePath(name); }
    QStringList workFiles() const {
        return QDir(work).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    RunRequest request(const QByteArray& script, bool keep = false) const {
        writeFile(inDecks("deck.inp"), script);
        return {inDecks("deck.inp"), inDecks("report.out"), keep};
    }
    // Starts a run and waits for its end.
    bool run(Estimator estimator, const RunRequest& request) {
        outcome.reset();
        return runs->start(estimator, request) == StartResult::Started &&
               QTest::qWaitFor([this] { return outcome.has_value(); }, 60000);
    }
};

const QByteArray kTraitRun =
    "environment LI7.OUT\nwrite LI8.OUT estimates\nwrite MATRIX.OUT m\nwrite fort.2 p\n";

} // namespace

class RunTest : public QObject {
    Q_OBJECT

  private slots:
    void staleFilesGoBeforeThePathsAreChecked() {
        for (int missing = 0; missing < 3; ++missing) { // input, output, both
            Bench bench;
            for (const char* name :
                 {"LI7.OUT", "li8.out", "MATRIX.OUT", "Fort.2", "travik.json", "Travik-cases.csv",
                  "LATC7.OUT", "lat.inp"}) {
                writeFile(bench.inWork(name), "stale");
            }
            RunRequest request = bench.request(kTraitRun);
            if (missing != 1) request.inputPath.clear();
            if (missing != 0) request.outputPath = "  ";
            QCOMPARE(bench.runs->start(Estimator::Trait, request), StartResult::MissingPaths);
            // Only the trait estimator's files went; nothing was staged or started.
            QCOMPARE(bench.workFiles(), (QStringList{"LATC7.OUT", "lat.inp"}));
            QCOMPARE(readFile(bench.inWork("lat.inp")), QByteArray("stale"));
            QVERIFY(!bench.runs->isRunning() && bench.runningChanges == 0 &&
                    bench.statuses.isEmpty());
        }
    }

    void traitRunDeliversTheReportAndLeavesOnlyTheDeck() {
        for (const bool keep : {true, false}) {
            Bench bench;
            writeFile(bench.inWork("LAT.INP"), "old deck"); // a second spelling would be refused
            QVERIFY(bench.run(Estimator::Trait, bench.request(kTraitRun, keep)));
            QCOMPARE(bench.outcome->result, RunResult::Completed);
            QCOMPARE(bench.outcome->outputPath, bench.inDecks("report.out"));
            // The estimator ran in the work folder with nothing to read on standard input.
            QCOMPARE(readFile(bench.inDecks("report.out")),
                     "cwd=" + QDir(bench.work).canonicalPath().toUtf8() + "\nstdin=closed\n");
            QCOMPARE(bench.workFiles(), QStringList{"lat.inp"});
            QCOMPARE(readFile(bench.inWork("lat.inp")), kTraitRun);
            QCOMPARE(readFile(bench.inDecks("Li8.out")), keep ? "estimates\n" : "<missing>");
            QCOMPARE(bench.statuses.first(), runningText(profileOf(Estimator::Trait)));
            QCOMPARE(bench.statuses.last(),
                     doneText(profileOf(Estimator::Trait), bench.outcome->seconds));
            QCOMPARE(bench.runningChanges, 2);
        }
    }

    void classRunWithARelativeOutputPath() {
        Bench bench;
        QDir(bench.decks).mkdir("out");
        RunRequest request =
            bench.request("write latc7.out report\nwrite LATC8.OUT c\nwrite Latc9.out e\n"
                          "write ETAS.OUT e\nwrite PIS.OUT p\n",
                          true);
        request.outputPath = "out/r 1.txt"; // taken from the input file's folder
        QVERIFY(bench.run(Estimator::Class, request));
        QCOMPARE(bench.outcome->result, RunResult::Completed);
        QCOMPARE(readFile(bench.inDecks("out/r 1.txt")), QByteArray("report\n"));
        QCOMPARE(bench.workFiles(), QStringList{"latc.inp"});
        QVERIFY(bench.statuses.last().startsWith("PLOVEN finished in "));
    }

    void reportOfARejectedDeckIsStillDelivered() {
        Bench bench;
        QVERIFY(
            bench.run(Estimator::Trait, bench.request("write LI7.OUT ***ERROR*** deck\nexit 1\n")));
        QCOMPARE(bench.outcome->result, RunResult::Completed);
        QCOMPARE(bench.outcome->exitCode, 1);
        QCOMPARE(readFile(bench.inDecks("report.out")), QByteArray("***ERROR*** deck\n"));
    }

    void failedRunsAreReportedAndNeverShowAnOldReport_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<RunResult>("result");
        QTest::addColumn<QByteArray>("output"); // what the output path holds afterwards
        QTest::newRow("no report") << QByteArray("write LI8.OUT e\ncomplain no data\n") << true
                                   << RunResult::NoReport << QByteArray("the user's file");
        QTest::newRow("crash") << QByteArray("write LI7.OUT half\ncomplain no data\ncrash\n")
                               << true << RunResult::Crashed << QByteArray("half\n");
        QTest::newRow("not installed")
            << kTraitRun << false << RunResult::FailedToStart << QByteArray("the user's file");
    }

    void failedRunsAreReportedAndNeverShowAnOldReport() {
        QFETCH(QByteArray, script);
        QFETCH(bool, installed);
        QTemporaryDir empty;
        Bench bench(installed ? FAKE_ESTIMATOR_DIR : empty.path());
        writeFile(bench.inWork("LI7.OUT"), "report of an earlier run");
        writeFile(bench.inDecks("report.out"), "the user's file");
        QVERIFY(bench.run(Estimator::Trait, bench.request(script, true)));
        QTEST(bench.outcome->result, "result");
        QTEST(readFile(bench.inDecks("report.out")), "output");
        QVERIFY(!bench.outcome->problem.isEmpty());
        QCOMPARE(bench.outcome->consoleOutput.contains("no data"), installed);
        QVERIFY(bench.statuses.last().startsWith("TRAVIK run failed"));
        QCOMPARE(bench.workFiles(), QStringList{"lat.inp"});
        QVERIFY(!QFile::exists(bench.inDecks("Li8.out")));
    }

    void deckOrOutputThatCannotBeWritten() {
        Bench bench;
        RunRequest request = bench.request(kTraitRun);
        request.inputPath = bench.inDecks("missing.inp");
        QCOMPARE(bench.runs->start(Estimator::Trait, request), StartResult::DeckNotStaged);
        QVERIFY(bench.runs->startProblem().contains("missing.inp") && bench.workFiles().isEmpty());

        request = bench.request(kTraitRun);
        request.outputPath = bench.inDecks("no folder/report.out");
        QVERIFY(bench.run(Estimator::Trait, request));
        QCOMPARE(bench.outcome->result, RunResult::ReportNotCopied);
        QCOMPARE(bench.workFiles(), QStringList{"lat.inp"});
    }

    void oneRunAtATimeShowingItsProgress() {
        Bench bench;
        const RunRequest request = bench.request("append fort.2  *** PROGRAM EM1 BEGIN ***\n"
                                                 "append fort.2     2   -0.00321    -1498.30000\n"
                                                 "say hello\nwait-for go\nwrite LI7.OUT report\n");
        QCOMPARE(bench.runs->start(Estimator::Trait, request), StartResult::Started);
        QTRY_VERIFY_WITH_TIMEOUT(
            bench.statuses.last().endsWith("\nCycle 2, loglikelihood -1498.30000"), 60000);
        QVERIFY(bench.statuses.last().startsWith(runningText(profileOf(Estimator::Trait))));
        QCOMPARE(bench.runs->start(Estimator::Class, request), StartResult::Busy);
        QCOMPARE(bench.runs->start(Estimator::Trait, request), StartResult::Busy);
        QVERIFY(QFile::exists(bench.inWork("fort.2")) && !bench.outcome);

        writeFile(bench.inWork("go"), "");
        QVERIFY(QTest::qWaitFor([&] { return bench.outcome.has_value(); }, 60000));
        QFile::remove(bench.inWork("go"));
        QCOMPARE(bench.outcome->result, RunResult::Completed);
        QVERIFY(bench.outcome->consoleOutput.contains("hello"));
        QCOMPARE(bench.workFiles(), QStringList{"lat.inp"});
    }
};

QTEST_GUILESS_MAIN(RunTest)
#include "run_test.moc"
