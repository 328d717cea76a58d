// Run orchestration against stand-in estimators that write known files, wait, fail or crash.
#include "oruk/core/runorchestrator.hpp"
#include "oruk/core/runstatus.hpp"

#include <QPointF>

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
    "environment LI7.OUT\nwrite LI8.OUT estimates\nwrite MATRIX.OUT m\nwrite fort.2 p\n"
    "write travik.json {\"schema_version\": 1, \"program\": \"travik\", \"status\": "
    "\"converged\", \"message\": null}\n";

} // namespace

class RunTest : public QObject {
    Q_OBJECT

  private slots:
    void staleFilesGoBeforeThePathsAreChecked() {
        for (int missing = 0; missing < 3; ++missing) { // input, output, both
            Bench bench;
            for (const char* name : {"LI7.OUT", "li8.out", "MATRIX.OUT", "Fort.2", "travik.json",
                                     "Travik-cases.csv", "LATC7.OUT", "lat.inp"}) {
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

    void traitRunDeliversTheReportAndLeavesNothing() {
        for (const bool keep : {true, false}) {
            Bench bench;
            QVERIFY(bench.run(Estimator::Trait, bench.request(kTraitRun, keep)));
            QCOMPARE(bench.outcome->result, RunResult::Completed);
            QCOMPARE(bench.outcome->outputPath, bench.inDecks("report.out"));
            // The estimator ran in the work folder with nothing to read on standard input.
            QCOMPARE(readFile(bench.inDecks("report.out")),
                     "cwd=" + QDir(bench.work).canonicalPath().toUtf8() + "\nstdin=closed\n");
            // The estimator read the user's deck by its path: nothing was staged, nothing is left.
            QCOMPARE(bench.workFiles(), QStringList{});
            QCOMPARE(readFile(bench.inDecks("LI8.OUT")), keep ? "estimates\n" : "<missing>");
            QCOMPARE(bench.statuses.first(), runningText(profileOf(Estimator::Trait)));
            QCOMPARE(bench.statuses.last(),
                     doneText(profileOf(Estimator::Trait), bench.outcome->seconds));
            QCOMPARE(bench.runningChanges, 2);
        }
        // An earlier copy in another letter case is replaced, not joined by a second one.
        Bench bench;
        writeFile(bench.inDecks("Li8.out"), "earlier");
        QVERIFY(bench.run(Estimator::Trait, bench.request(kTraitRun, true)));
        QCOMPARE(QDir(bench.decks).entryList({"li8.out"}, QDir::Files), QStringList{"Li8.out"});
        QCOMPARE(readFile(bench.inDecks("Li8.out")), QByteArray("estimates\n"));
    }

    void classRunWithARelativeOutputPath() {
        Bench bench;
        QDir(bench.decks).mkdir("out");
        RunRequest request = bench.request(
            "write latc7.out report\nwrite LATC8.OUT c\nwrite Latc9.out e\n"
            "write ETAS.OUT e\nwrite PIS.OUT p\nwrite ploven.json {\"schema_version\": "
            "1, \"program\": \"ploven\", \"status\": \"converged\"}\nwrite ploven-cases.csv "
            "case,class\nappend ploven-cases.csv 1\n",
            true);
        request.outputPath = "out/r 1.txt"; // taken from the input file's folder
        QVERIFY(bench.run(Estimator::Class, request));
        QCOMPARE(bench.outcome->result, RunResult::Completed);
        QCOMPARE(readFile(bench.inDecks("out/r 1.txt")), QByteArray("report\n"));
        // ploven reads the user's deck where it is: nothing is staged, nothing stays.
        QCOMPARE(bench.workFiles(), QStringList{});
        QVERIFY(bench.statuses.last().startsWith("PLOVEN finished in "));
        // A cases file that does not read is said with the warnings, not kept quiet.
        QCOMPARE(bench.outcome->warnings,
                 QStringList{"ploven-cases.csv line 2, column 2 (\"class\"): the record ends after "
                             "1 of 2 fields"});
        QVERIFY(bench.outcome->cases.rows.empty());
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
        QTest::addColumn<QString>("status");
        QTest::newRow("no report")
            << QByteArray("write LI8.OUT e\ncomplain no data\n") << true << RunResult::NoReport
            << QByteArray("the user's file") << "TRAVIK run failed";
        QTest::newRow("crash") << QByteArray("write LI7.OUT half\ncomplain no data\ncrash\n")
                               << true << RunResult::Crashed << QByteArray("half\n")
                               << "TRAVIK crashed";
        QTest::newRow("not installed") << kTraitRun << false << RunResult::FailedToStart
                                       << QByteArray("the user's file") << "TRAVIK run failed";
    }

    void failedRunsAreReportedAndNeverShowAnOldReport() {
        QFETCH(QByteArray, script);
        QFETCH(bool, installed);
        QTemporaryDir empty;
        Bench bench(installed ? FAKE_ESTIMATOR_DIR : empty.path());
        writeFile(bench.inWork("LI7.OUT"), "report of an earlier run");
        writeFile(bench.inDecks("report.out"), "the user's file");
        QVERIFY(bench.run(Estimator::Trait, bench.request(script, true)));
        QFETCH(RunResult, result);
        QCOMPARE(bench.outcome->result, result);
        QTEST(readFile(bench.inDecks("report.out")), "output");
        QCOMPARE(bench.outcome->reportDelivered, result == RunResult::Crashed);
        QVERIFY(!bench.outcome->problem.isEmpty());
        QCOMPARE(bench.outcome->errorOutput.contains("no data"), installed);
        QCOMPARE(bench.outcome->ending.detail.contains("no data"), installed);
        QFETCH(QString, status);
        QVERIFY2(bench.statuses.last().startsWith(status), qPrintable(bench.statuses.last()));
        QCOMPARE(bench.workFiles(), QStringList{});
        QVERIFY(!QFile::exists(bench.inDecks("LI8.OUT")));
    }

    void deckOrOutputThatCannotBeWritten() {
        Bench bench;
        RunRequest request = bench.request(kTraitRun);
        request.inputPath = bench.inDecks("missing.inp");
        QCOMPARE(bench.runs->start(Estimator::Trait, request), StartResult::InputNotFound);
        QVERIFY(bench.runs->startProblem().contains("missing.inp") && bench.workFiles().isEmpty());
        QCOMPARE(bench.runs->start(Estimator::Class, request), StartResult::InputNotFound);

        request = bench.request(kTraitRun);
        request.outputPath = bench.inDecks("no folder/report.out");
        QVERIFY(bench.run(Estimator::Trait, request));
        QCOMPARE(bench.outcome->result, RunResult::ReportNotCopied);
        QCOMPARE(bench.workFiles(), QStringList{});
        // Not a success; the message names the user's file, never the one written first; the
        // report itself stays with the outcome, to be saved elsewhere.
        const RunOutcome& o = *bench.outcome;
        QCOMPARE(o.ending.ending, RunEnding::Failed);
        QVERIFY2(o.problem.contains("\"" + request.outputPath + "\"") &&
                     !o.problem.contains(".oruk-partial") && !o.ending.detail.contains("partial"),
                 qPrintable(o.problem));
        QVERIFY(!o.reportDelivered && o.undeliveredReport.startsWith("cwd="));
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
        QCOMPARE(bench.workFiles(), QStringList{});
    }

    // Success only for exit status 0 with a results file that says "converged"; every other
    // ending in its own words, with the estimator's message or first lines on standard error.
    void everyEndingIsShownForWhatItIs_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<RunEnding>("ending");
        QTest::addColumn<QString>("detail"); // a part of the detail shown
        QTest::addColumn<QString>("status"); // the start of the status label
        const QByteArray report = "write LI7.OUT the report\n";
        auto json = [](const char* status, const char* message) {
            return QByteArray("write travik.json {\"schema_version\": 1, \"program\": "
                              "\"travik\", \"status\": \"") +
                   status + "\", \"message\": \"" + message + "\"}\n";
        };
        QTest::newRow("converged") << report + json("converged", "") << RunEnding::Converged << ""
                                   << "TRAVIK finished in ";
        QTest::newRow("exit 0 without results")
            << report << RunEnding::Failed << "without writing its results file \"travik.json\""
            << "TRAVIK run failed after ";
        QTest::newRow("no convergence")
            << report + json("max_cycles", "no convergence within MAXIT = 5 cycles") +
                   "complain travik: no convergence within MAXIT = 5 cycles\nexit 1\n"
            << RunEnding::NoConvergence << "no convergence within MAXIT = 5 cycles"
            << "TRAVIK stopped without convergence after ";
        QTest::newRow("diverged") << report + json("diverged", "the procedure diverged") +
                                         "exit 1\n"
                                  << RunEnding::Diverged << "the procedure diverged"
                                  << "TRAVIK diverged after ";
        QTest::newRow("rejected, told by the report alone")
            << QByteArray("write LI7.OUT    ***ERROR***  THE NUMBER OF CASES     0 IS LESS THAN 1\n"
                          "exit 1\n")
            << RunEnding::Rejected << "***ERROR***  THE NUMBER OF CASES     0 IS LESS THAN 1"
            << "TRAVIK rejected the input after ";
        QTest::newRow("converged results but exit 1") << report + json("converged", "") + "exit 1\n"
                                                      << RunEnding::Failed << "Exit status 1"
                                                      << "TRAVIK run failed after ";
        QTest::newRow("input error")
            << QByteArray("complain travik: deck.inp line 3: expected a number, found \"x\"\n"
                          "complain second line\nexit 2\n")
            << RunEnding::Failed << "deck.inp line 3: expected a number, found \"x\"\nsecond line"
            << "TRAVIK run failed after ";
        QTest::newRow("crash") << QByteArray("complain travik: out of luck\ncrash\n")
                               << RunEnding::Crashed << "out of luck"
                               << "TRAVIK crashed after ";
    }

    void everyEndingIsShownForWhatItIs() {
        QFETCH(QByteArray, script);
        Bench bench;
        QVERIFY(bench.run(Estimator::Trait, bench.request(script)));
        QTEST(bench.outcome->ending.ending, "ending");
        QFETCH(QString, detail);
        QVERIFY2(bench.outcome->ending.detail.contains(detail),
                 qPrintable(bench.outcome->ending.detail));
        QFETCH(QString, status);
        QVERIFY2(bench.statuses.last().startsWith(status), qPrintable(bench.statuses.last()));
        QCOMPARE(bench.workFiles(), QStringList{});
    }

    void cancelEndsTheRunAndCleansTheWorkFolder() {
        // The second estimator does not end when asked and is stopped after the grace.
        for (const QByteArray& stubborn : {QByteArray(), QByteArray("ignore-terminate\n")}) {
            Bench bench;
            writeFile(bench.inDecks("report.out"), "the user's file");
            const RunRequest request = bench.request(
                stubborn + "write .LI7.OUT.77-0.part half\nwrite .fort.2.77-0.part x\n"
                           "append fort.2     1   -0.10000    -1500.00000\nwait-for never\n");
            QCOMPARE(bench.runs->start(Estimator::Trait, request), StartResult::Started);
            QTRY_VERIFY_WITH_TIMEOUT(bench.statuses.last().contains("Cycle 1,"), 60000);
            QVERIFY(bench.runs->cancel());
            QVERIFY(QTest::qWaitFor([&] { return bench.outcome.has_value(); }, 60000));
            QCOMPARE(bench.outcome->result, RunResult::Cancelled);
            QCOMPARE(bench.outcome->ending.ending, RunEnding::Cancelled);
            QVERIFY(bench.statuses.last().startsWith("TRAVIK run cancelled after "));
            QCOMPARE(bench.workFiles(), QStringList{});
            QCOMPARE(readFile(bench.inDecks("report.out")), QByteArray("the user's file"));
            QVERIFY(!bench.runs->isRunning() && !bench.runs->cancel());
        }
    }

    void theEstimatorReadsTheUsersFile() {
        Bench bench;
        QVERIFY(
            bench.run(Estimator::Class, bench.request("arguments args.txt\nwrite LATC7.OUT r\n")));
        // Named on the command line, so the estimator's messages name it; outputs to the work
        // folder.
        QCOMPARE(readFile(bench.inWork("args.txt")),
                 (bench.inDecks("deck.inp") + "\n--accelerate\n-o\n" + bench.work + "\n").toUtf8());
        RunRequest plain = bench.request("arguments args.txt\nwrite LATC7.OUT r\n");
        plain.accelerate = false; // as a deck run on the command line
        QVERIFY(bench.run(Estimator::Class, plain));
        QVERIFY(!readFile(bench.inWork("args.txt")).contains("accelerate"));
        // A trait deck from the tabs asks for the rotation a CSV run gets by default.
        RunRequest rotated = bench.request("arguments args.txt\nwrite LI7.OUT r\n");
        rotated.rotation = QStringLiteral("oblimin");
        QVERIFY(bench.run(Estimator::Trait, rotated));
        QVERIFY(
            readFile(bench.inWork("args.txt"))
                .endsWith("--accelerate\n--rotate\noblimin\n-o\n" + bench.work.toUtf8() + "\n"));
    }

    void csvRunKeepsItsDeckBesideTheReport() {
        Bench bench;
        writeFile(bench.inWork("LATC.INP"), "a deck of an earlier run");
        writeFile(bench.inDecks("answers.csv"),
                  "arguments args.txt\nwrite LATC7.OUT report\nwrite LATC.INP generated deck\n"
                  "write ploven.json {\"schema_version\": 1, \"program\": \"ploven\", "
                  "\"status\": \"converged\"}\n");
        RunRequest request{bench.inDecks("answers.csv"), "answers.out"};
        request.csvArguments = QStringList{"--csv", bench.inDecks("answers.csv"), "--classes", "2"};
        QVERIFY(bench.run(Estimator::Class, request));
        QCOMPARE(bench.outcome->ending.ending, RunEnding::Converged);
        QCOMPARE(bench.outcome->keptDeck, bench.inDecks("answers.inp"));
        QCOMPARE(readFile(bench.inDecks("answers.inp")), QByteArray("generated deck\n"));
        QCOMPARE(readFile(bench.inDecks("answers.out")), QByteArray("report\n"));
        // Nothing added: the estimators accelerate a CSV run by themselves.
        QCOMPARE(readFile(bench.inWork("args.txt")), ("--csv\n" + bench.inDecks("answers.csv") +
                                                      "\n--classes\n2\n-o\n" + bench.work + "\n")
                                                         .toUtf8());
        QCOMPARE(bench.workFiles(), QStringList{"args.txt"});
        QCOMPARE(RunOrchestrator::keptDeckPath("/d/r.inp"), QString("/d/r.inp-deck.inp"));
    }

    void csvRunNeverReplacesADeckOfTheUsersOwn() {
        Bench bench;
        writeFile(bench.inDecks("answers.inp"), "My own deck\n8 2 4 0 0 0 0 0 0 0\n");
        writeFile(bench.inDecks("answers.csv"),
                  "write LATC7.OUT report\nwrite LATC.INP Data from answers.csv\n"
                  "write ploven.json {\"schema_version\": 1, \"program\": \"ploven\", "
                  "\"status\": \"converged\"}\n");
        RunRequest request{bench.inDecks("answers.csv"), "answers.out"};
        request.csvArguments = QStringList{"--csv", bench.inDecks("answers.csv")};
        QVERIFY(bench.run(Estimator::Class, request));
        // The fit is delivered; the deck is not kept, and the user is told why.
        QCOMPARE(bench.outcome->ending.ending, RunEnding::Converged);
        QCOMPARE(readFile(bench.inDecks("answers.inp")),
                 QByteArray("My own deck\n8 2 4 0 0 0 0 0 0 0\n"));
        QVERIFY(bench.outcome->keptDeck.isEmpty());
        QVERIFY2(bench.outcome->warnings.value(0).contains("already holds a deck of your own"),
                 qPrintable(bench.outcome->warnings.join('|')));
        // A deck an earlier CSV run made is replaced by this run's.
        writeFile(bench.inDecks("answers.inp"), "Data from answers.csv\nold\n");
        QVERIFY(bench.run(Estimator::Class, request));
        QCOMPARE(readFile(bench.inDecks("answers.inp")), QByteArray("Data from answers.csv\n"));
        QCOMPARE(bench.outcome->keptDeck, bench.inDecks("answers.inp"));
        QVERIFY(bench.outcome->warnings.isEmpty());
    }

    // ploven's progress counts the whole fit: the band start's cycles, the random starts done
    // of those planned (runs = 1 + starts + min(starts, 4)), then each best start's cycles.
    void classProgressCountsTheWholeFit() {
        ProgressTracker tracker(Estimator::Class, 0);
        auto after = [&](const QByteArray& line) {
            tracker.feed(line + "\n");
            return *tracker.progress();
        };
        QCOMPARE(after(" RUN 1 OF 10 CYCLES AT MOST 3000"),
                 (RunProgress{"Start from the class bands", 0, 3000}));
        QCOMPARE(after(" CYCLE 7 LOGLIKELIHOOD -812.5"),
                 (RunProgress{"Start from the class bands, cycle 7 of 3000, loglikelihood -812.5",
                              7, 3000}));
        QCOMPARE(after(" RUN 2 OF 10 CYCLES AT MOST 50"),
                 (RunProgress{"Random start 1 of 5", 0, 5}));
        QCOMPARE(after(" CYCLE 49 LOGLIKELIHOOD -830.25"),
                 (RunProgress{"Random start 1 of 5, cycle 49 of 50, loglikelihood -830.25", 0, 5}));
        after(" RUN 3 OF 10 CYCLES AT MOST 50");
        after(" RUN 4 OF 10 CYCLES AT MOST 50");
        QCOMPARE(after(" CYCLE 3 LOGLIKELIHOOD -900").value, qint64(2)); // two starts done
        after(" RUN 6 OF 10 CYCLES AT MOST 50");
        QCOMPARE(after(" RUN 7 OF 10 CYCLES AT MOST 3000"),
                 (RunProgress{"Best start 1 of 4", 0, 3000}));
        QCOMPARE(
            after(" CYCLE 51 LOGLIKELIHOOD -811"),
            (RunProgress{"Best start 1 of 4, cycle 51 of 3000, loglikelihood -811", 51, 3000}));
        after(" RUN 10 OF 10 CYCLES AT MOST 3000");
        QCOMPARE(after(" CYCLE 60 LOGLIKELIHOOD -810").text,
                 QString("Best start 4 of 4, cycle 60 of 3000, loglikelihood -810"));
        QCOMPARE(tracker.history().size(), std::size_t(7));

        // A cap no larger than the starts' cycles: the order of the runs tells them apart.
        ProgressTracker small(Estimator::Class, 0);
        for (const char* line :
             {" RUN 1 OF 7 CYCLES AT MOST 40\n", " RUN 2 OF 7 CYCLES AT MOST 40\n",
              " RUN 4 OF 7 CYCLES AT MOST 40\n"})
            small.feed(line);
        QCOMPARE(*small.progress(), (RunProgress{"Random start 3 of 3", 2, 3}));
        small.feed(" RUN 5 OF 7 CYCLES AT MOST 40\n CYCLE 2 LOGLIKELIHOOD -5\n");
        QCOMPARE(*small.progress(),
                 (RunProgress{"Best start 1 of 3, cycle 2 of 40, loglikelihood -5", 2, 40}));
        // A single start: its cycles against the cap.
        ProgressTracker single(Estimator::Class, 0);
        single.feed(" RUN 1 OF 1 CYCLES AT MOST 3000\n CYCLE 4 LOGLIKELIHOOD -20\n");
        QCOMPARE(*single.progress(), (RunProgress{"Cycle 4 of 3000, loglikelihood -20", 4, 3000}));
    }

    // A comparison of class counts: the report of the comparison is delivered, the results and
    // cases shown are those of the count of the smallest BIC, and nothing stays behind.
    void classCountComparisonShowsTheSmallestBic() {
        Bench bench;
        QFile fixture(QStringLiteral(ORUK_TEST_DATA "/ploven-comparison.json"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const QByteArray comparison = fixture.readAll().simplified();
        auto results = [](int classes) {
            return "{\"schema_version\": 2, \"program\": \"ploven\", \"status\": \"converged\", "
                   "\"model\": {\"classes\": " +
                   QByteArray::number(classes) + "}}";
        };
        const RunRequest request = bench.request(
            "append fort.2  CLASSES 1\nappend fort.2  CLASSES 2\n"
            "append fort.2  BLRT 1 AGAINST 2 CLASSES SAMPLE 4 OF 50\n"
            "write classes-1/ploven.json " +
            results(1) + "\nwrite classes-2/ploven.json " + results(2) +
            "\nwrite classes-2/ploven-cases.csv case,class\n"
            "append classes-2/ploven-cases.csv 1,2\nwrite classes-3/ploven.json " +
            results(3) + "\nwrite LATC7.OUT the comparison\nwrite ploven-comparison.json " +
            comparison + "\n");
        std::optional<RunProgress> progress;
        QObject::connect(bench.runs.get(), &RunOrchestrator::progressChanged,
                         [&](Estimator, const RunProgress& p) { progress = p; });
        QVERIFY(bench.run(Estimator::Class, request));
        QCOMPARE(bench.outcome->ending.ending, RunEnding::Converged);
        QCOMPARE(readFile(bench.inDecks("report.out")), QByteArray("the comparison\n"));
        QCOMPARE(bench.outcome->comparison.size(), std::size_t(3));
        QCOMPARE(bench.outcome->results->classes, 2);
        QCOMPARE(bench.outcome->cases.rows.size(), std::size_t(1));
        QCOMPARE(bench.workFiles(), QStringList{});
        QVERIFY(QDir(bench.inWork("")).entryList({"classes-*"}, QDir::Dirs).isEmpty());
        QCOMPARE(*progress,
                 (RunProgress{"Bootstrap test of 1 against 2 classes, sample 4 of 50", 4, 50}));
    }

    void classProgressResultsAndConsoleWarnings() {
        Bench bench;
        std::optional<RunProgress> progress;
        QObject::connect(bench.runs.get(), &RunOrchestrator::progressChanged,
                         [&](Estimator, const RunProgress& p) { progress = p; });
        const RunRequest request = bench.request(
            "say **** WARNING: VERY LARGE NUMBER OF CLASSES ****\n"
            "say PRESS ENTER TO CONTINUE OR CTRL BREAK TO INTERRUPT\n"
            "append fort.2  RUN 1 OF 5 CYCLES AT MOST 50\n"
            "append fort.2  CYCLE 1 LOGLIKELIHOOD -20.5\nappend fort.2  CYCLE 2 LOGLIKELIHOOD "
            "-18.25\n"
            "wait-for go\nwrite LATC7.OUT report\n"
            "write ploven.json {\"schema_version\": 1, \"program\": \"ploven\", \"status\": "
            "\"converged\", \"model\": {\"classes\": 2}, \"eta\": [{\"key\": \"class_1\", "
            "\"estimate\": 0.5, \"standard_error\": 0.1}, {\"key\": \"class_2\", \"estimate\": "
            "0.5, \"standard_error\": 0.1}]}\n"
            "write ploven-cases.csv case,class,p1,p2\nappend ploven-cases.csv 1,2,0.25,0.75\n");
        QCOMPARE(bench.runs->start(Estimator::Class, request), StartResult::Started);
        QTRY_VERIFY_WITH_TIMEOUT(progress.has_value(), 60000);
        QCOMPARE(*progress, (RunProgress{"Start from the class bands, cycle 2 of 50, "
                                         "loglikelihood -18.25",
                                         2, 50}));
        writeFile(bench.inWork("go"), "");
        QVERIFY(QTest::qWaitFor([&] { return bench.outcome.has_value(); }, 60000));
        QCOMPARE(bench.outcome->ending.ending, RunEnding::Converged);
        QCOMPARE(bench.outcome->warnings,
                 QStringList{"**** WARNING: VERY LARGE NUMBER OF CLASSES ****"});
        QCOMPARE(bench.outcome->results->classSizes.size(), std::size_t(2));
        QCOMPARE(bench.outcome->cases.rows.size(), std::size_t(1));
        QCOMPARE(bench.outcome->history.size(), std::size_t(1));
        QCOMPARE(bench.outcome->history[0].points, (std::vector<QPointF>{{1, -20.5}, {2, -18.25}}));
        QCOMPARE(bench.workFiles(), QStringList{"go"});
    }
};

QTEST_GUILESS_MAIN(RunTest)
#include "run_test.moc"
