// Runs of the real estimators through the front end's orchestration, on small decks: the report
// reaches the output path and the work folder keeps nothing; a converged run's results and
// progress files read as the front end expects, and the tab's summary of the deck says what the
// estimator read; a rejected deck says why; and a bad deck's message names the user's file.
#include "oruk/core/decksummary.hpp"
#include "oruk/core/progress.hpp"
#include "oruk/core/runorchestrator.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace oruk;

namespace {

// Forty cases of three binary items and an ordinal one, with one factor (a model with a
// maximum); eight cases of four binary items, with two classes.
const QByteArray kTraitDeck =
    "Three binary items and an ordinal one\n40 3 0 0 1 16\n\n3\n1 0 200 1 0.0001 0\n"
    "0 0 0 1\n0 0 0 1\n1 0 1 3\n1 1 1 3\n0 1 1 2\n0 1 0 2\n0 0 0 1\n0 0 0 3\n0 1 0 2\n"
    "0 0 0 2\n0 1 0 2\n0 0 1 2\n0 1 1 3\n1 0 1 2\n0 0 1 1\n0 1 1 1\n1 1 1 3\n0 1 0 2\n"
    "0 1 1 3\n0 1 1 2\n0 0 0 2\n1 0 1 2\n0 0 1 2\n1 1 1 3\n1 1 1 3\n1 1 1 1\n1 0 1 3\n"
    "1 1 1 3\n1 1 0 2\n0 0 1 3\n1 1 1 1\n0 1 1 2\n0 0 1 1\n0 0 0 1\n1 1 0 1\n0 0 1 2\n"
    "0 0 1 1\n0 0 0 1\n0 0 1 1\n0 1 1 2\n";
const QByteArray kClassDeck = "Four binary items\n8 2 4 0 0 0 0 0 0 0\n0.0001 200 0\n1 1 1 1\n"
                              "1 1 1 0\n0 0 0 0\n0 0 1 0\n1 1 0 1\n0 0 0 1\n1 1 1 1\n0 1 0 0\n";

// Runs deck with the real estimator and checks what holds for every complete run: the report
// reaches the output path and the work folder keeps nothing.
std::optional<RunOutcome> run(const QString& estimators, Estimator estimator,
                              const QByteArray& deck) {
    QTemporaryDir root;
    QDir(root.path()).mkdir("work");
    QFile file(root.filePath("deck.inp"));
    if (!file.open(QIODevice::WriteOnly) || file.write(deck) != deck.size()) return std::nullopt;
    file.close();
    RunOrchestrator runs(estimators, root.filePath("work"));
    std::optional<RunOutcome> outcome;
    QObject::connect(&runs, &RunOrchestrator::finished, [&](const RunOutcome& o) { outcome = o; });
    if (runs.start(estimator, {file.fileName(), "report.out", true}) != StartResult::Started ||
        !QTest::qWaitFor([&] { return outcome.has_value(); }, 600000))
        return std::nullopt;
    if (outcome->result != RunResult::Completed ||
        QFileInfo(root.filePath("report.out")).size() == 0 ||
        !QDir(root.filePath("work")).entryList(QDir::Files | QDir::Hidden).isEmpty()) {
        qWarning("%s", qPrintable(outcome->problem + "\n" + outcome->consoleOutput));
        return std::nullopt;
    }
    return outcome;
}

// A converged run: its results file reads in the layout, and the progress file gave the
// loglikelihood of every cycle up to the one reported.
void checkConverged(const std::optional<RunOutcome>& outcome, const QString& program,
                    std::size_t items) {
    QVERIFY(outcome.has_value());
    QVERIFY2(outcome->ending.ending == RunEnding::Converged, qPrintable(outcome->ending.detail));
    QVERIFY(outcome->results.has_value());
    QCOMPARE(outcome->results->program, program);
    QCOMPARE(outcome->results->items.size(), items);
    QVERIFY(outcome->results->loglikelihood && outcome->results->aic);
    QVERIFY(!outcome->history.empty() && !outcome->history.front().points.empty());
    // One of the runs (ploven makes many) ended on the loglikelihood reported, to the fewer
    // digits of the progress lines.
    bool reached = false;
    for (const CycleHistory& each : outcome->history)
        reached = reached ||
                  (!each.points.empty() &&
                   std::fabs(each.points.back().y() - *outcome->results->loglikelihood) < 1e-3);
    QVERIFY(reached);
    QVERIFY(!outcome->cases.rows.empty());
}

// The deck written to a file of its own, for its summary.
QString deckFile(const QTemporaryDir& dir, const QByteArray& deck) {
    QFile file(dir.filePath("summarised.inp"));
    return file.open(QIODevice::WriteOnly) && file.write(deck) == deck.size() ? file.fileName()
                                                                              : QString();
}

} // namespace

class EstimatorsTest : public QObject {
    Q_OBJECT

  private slots:
    void traitTabRun() {
#ifdef TRAVIK_FOLDER
        const auto outcome = run(QStringLiteral(TRAVIK_FOLDER), Estimator::Trait, kTraitDeck);
        checkConverged(outcome, "travik", 4);
        QTemporaryDir dir;
        const auto read = readTraitSummary(deckFile(dir, kTraitDeck));
        QCOMPARE(read.access, DeckAccess::Read);
        const TraitSummary& s = read.summary;
        const FitResults& r = *outcome->results;
        QCOMPARE(
            QString("%1|%2|%3|%4").arg(s.title).arg(s.cases).arg(s.items).arg(s.factors),
            QString("%1|%2|%3|%4").arg(r.title).arg(*r.cases).arg(r.items.size()).arg(r.factors));
        // A tab's run is accelerated; the Newton steps after EM continue its one run's cycles.
        QVERIFY(outcome->results->convergence && outcome->results->convergence->accelerated);
        QCOMPARE(outcome->history.size(), std::size_t(1));
        QCOMPARE(qint64(outcome->history[0].points.back().x()), *outcome->results->cycles);
#else
        QSKIP("travik is not part of this build");
#endif
    }

    void classTabRun() {
#ifdef PLOVEN_FOLDER
        const auto outcome = run(QStringLiteral(PLOVEN_FOLDER), Estimator::Class, kClassDeck);
        checkConverged(outcome, "ploven", 4);
        QTemporaryDir dir;
        const auto read = readClassSummary(deckFile(dir, kClassDeck));
        QCOMPARE(read.access, DeckAccess::Read);
        const ClassSummary& s = read.summary;
        const FitResults& r = *outcome->results;
        QCOMPARE(
            QString("%1|%2|%3|%4").arg(s.title).arg(s.patterns).arg(s.items).arg(s.classes),
            QString("%1|%2|%3|%4").arg(r.title).arg(*r.cases).arg(r.items.size()).arg(r.classes));
#else
        QSKIP("ploven is not part of this build");
#endif
    }

    // Three classes of four items are "very many": ploven warns on its console, but with nothing
    // on its standard input it does not wait at a prompt, and no prompt reaches the window.
    void manyClassesWarnWithoutAPrompt() {
#ifdef PLOVEN_FOLDER
        QByteArray deck = kClassDeck;
        deck.replace("8 2 4 0", "8 3 4 0");
        const auto outcome = run(QStringLiteral(PLOVEN_FOLDER), Estimator::Class, deck);
        QVERIFY(outcome.has_value());
        QVERIFY2(outcome->consoleOutput.contains("VERY LARGE NUMBER OF CLASSES"),
                 qPrintable(outcome->consoleOutput));
        QVERIFY(outcome->warnings.contains("**** WARNING: VERY LARGE NUMBER OF CLASSES ****"));
        QVERIFY(!outcome->consoleOutput.contains("PRESS ENTER"));
        QVERIFY(outcome->warnings.filter("PRESS ENTER").isEmpty());
#else
        QSKIP("ploven is not part of this build");
#endif
    }

    // ploven's own progress file, read as the tab reads it: the random starts counted against
    // those asked for, then the best of them, four at most, on to convergence.
    void classProgressCountsTheStartsPloven() {
#ifdef PLOVEN_FOLDER
        for (const int starts : {3, 7}) {
            QTemporaryDir root;
            QFile deck(root.filePath("deck.inp"));
            QVERIFY(deck.open(QIODevice::WriteOnly));
            deck.write(kClassDeck);
            deck.close();
            QProcess ploven;
            ploven.setStandardInputFile(QProcess::nullDevice());
            ploven.start(
                QDir(PLOVEN_FOLDER).filePath("ploven"),
                {deck.fileName(), "--starts", QString::number(starts), "-o", root.filePath("out")});
            QVERIFY(ploven.waitForFinished(600000));
            QFile progressFile(root.filePath("out/fort.2"));
            QVERIFY(progressFile.open(QIODevice::ReadOnly));
            ProgressTracker tracker(Estimator::Class, 200);
            qint64 mostStartsDone = -1;
            QStringList runs;
            for (const QByteArray& line : progressFile.readAll().split('\n')) {
                tracker.feed(line + "\n");
                if (!tracker.progress()) continue;
                const RunProgress& p = *tracker.progress();
                const QString run = p.text.section(',', 0, 0);
                if (!runs.contains(run)) runs << run;
                if (run.startsWith("Random start")) {
                    QCOMPARE(p.maximum, qint64(starts));
                    mostStartsDone = qMax(mostStartsDone, p.value);
                }
            }
            const int best = std::min(starts, 4);
            QCOMPARE(mostStartsDone, qint64(starts - 1)); // the last start: all others done
            QCOMPARE(runs.first(), QString("Start from the class bands"));
            QCOMPARE(runs.filter("Random start").size(), qsizetype(starts));
            QCOMPARE(runs.filter("Best start").size(), qsizetype(best));
            QCOMPARE(runs.last(), QString("Best start %1 of %1").arg(best));
        }
#else
        QSKIP("ploven is not part of this build");
#endif
    }

    void classTabRejectedDeckSaysWhy() {
#ifdef PLOVEN_FOLDER
        const auto outcome = run(QStringLiteral(PLOVEN_FOLDER), Estimator::Class,
                                 "Bad answers\n3 1 3 0 0 0 0 0 0 0\n0.0001 100 0\n"
                                 "1 0 1\n0 2 1\n1 1 0\n");
        QVERIFY(outcome.has_value());
        QCOMPARE(outcome->exitCode, 1);
        QCOMPARE(outcome->ending.ending, RunEnding::Rejected);
        QVERIFY2(outcome->ending.detail.contains("NON-BINARY VARIABLE"),
                 qPrintable(outcome->ending.detail));
        QVERIFY(outcome->results && outcome->results->items.empty());
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
