// Renders the pictures of the documentation: each tab of the main window with an example deck
// chosen, the settings window, the CSV import dialog with the example survey's first rows and
// the types guessed for its columns, and the results window: a latent trait item's curves, the
// test information, a latent class profile (the real results of those example decks, kept for
// the tests in tests/oruk/data), and, from runs of the estimators beside this program, the
// category profiles of the survey's items and a comparison of class counts. Usage:
// oruk_screenshots OUTPUT_FOLDER. Run it with QT_QPA_PLATFORM=offscreen where there is no display.
#include "oruk/core/csvimport.hpp"
#include "oruk/core/results.hpp"
#include "oruk/core/resulttables.hpp"
#include "oruk/ui/csvimportdialog.hpp"
#include "oruk/ui/estimatortab.hpp"
#include "oruk/ui/mainwindow.hpp"
#include "oruk/ui/resultswindow.hpp"
#include "oruk/ui/settingswindow.hpp"

#include <optional>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QByteArray sample(const char* name) {
    QFile file(QStringLiteral(ORUK_SAMPLE_RESULTS "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A finished run as the results window gets it, from a sample results file.
oruk::RunOutcome sampleOutcome(oruk::Estimator estimator, const char* json, const QString& report) {
    oruk::RunOutcome outcome;
    outcome.estimator = estimator;
    outcome.results = oruk::parseResults(sample(json), QLatin1String(json)).results;
    if (estimator == oruk::Estimator::Class) // the sample files hold ploven's cases
        outcome.cases = oruk::casesTable(sample("ploven-cases.csv"), "ploven-cases.csv").table;
    outcome.ending = {oruk::RunEnding::Converged, QString()};
    outcome.outputPath = report;
    outcome.reportDelivered = true;
    return outcome;
}

// A run of a real estimator on a CSV file, as the window makes it; none when it did not end in a
// fit.
std::optional<oruk::RunOutcome> csvRun(oruk::Estimator estimator, const QStringList& arguments,
                                       const QString& csv, const QString& work) {
    oruk::RunOrchestrator runs(QCoreApplication::applicationDirPath(), work);
    std::optional<oruk::RunOutcome> outcome;
    QEventLoop loop;
    QObject::connect(&runs, &oruk::RunOrchestrator::finished, [&](const oruk::RunOutcome& o) {
        outcome = o;
        loop.quit();
    });
    oruk::RunRequest request{csv, QFileInfo(csv).completeBaseName() + QStringLiteral(".out")};
    request.csvArguments = QStringList{QStringLiteral("--csv"), csv} + arguments;
    if (runs.start(estimator, request) != oruk::StartResult::Started) return std::nullopt;
    loop.exec();
    if (!outcome || !outcome->results) {
        std::fprintf(stderr, "oruk_screenshots: the run on %s gave no results: %s\n",
                     qPrintable(csv), outcome ? qPrintable(outcome->problem) : "");
        return std::nullopt;
    }
    return outcome;
}

bool save(QWidget* widget, const QString& path) {
    if (widget->grab().save(path)) return true;
    std::fprintf(stderr, "oruk_screenshots: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: oruk_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "oruk_screenshots: cannot make a work folder\n");
        return 1;
    }
    // The decks whose results the sample files hold, copied to a short path for the pictures,
    // with their reports beside them as a run makes them.
    const QDir examples(QStringLiteral(ORUK_EXAMPLES));
    const QString decks = QDir::temp().filePath(QStringLiteral("oruk-examples"));
    QDir().mkpath(decks);
    const QString traitDeck = decks + QStringLiteral("/twofactor.inp");
    const QString classDeck = decks + QStringLiteral("/cases-with-ids.inp");
    const QString traitReport = decks + QStringLiteral("/twofactor.out");
    const QString classReport = decks + QStringLiteral("/cases-with-ids.out");
    QFile::remove(traitDeck);
    QFile::remove(classDeck);
    if (!QFile::copy(examples.filePath(QStringLiteral("travik/twofactor.inp")), traitDeck) ||
        !QFile::copy(examples.filePath(QStringLiteral("ploven/cases-with-ids.inp")), classDeck)) {
        std::fprintf(stderr, "oruk_screenshots: cannot copy the example decks to %s\n",
                     qPrintable(decks));
        return 1;
    }

    oruk::MainWindow window({QCoreApplication::applicationDirPath(), work.path()});
    auto fill = [&](oruk::Estimator estimator, const char* input, const char* output,
                    const QString& deck, const QString& report) {
        window.findChild<QLineEdit*>(QLatin1String(input))->setText(deck);
        window.findChild<QLineEdit*>(QLatin1String(output))->setText(report);
        window.tab(estimator)->reloadInput();
    };
    fill(oruk::Estimator::Trait, "travikInputEdit", "travikOutputEdit", traitDeck,
         QStringLiteral("twofactor.out"));
    fill(oruk::Estimator::Class, "plovenInputEdit", "plovenOutputEdit", classDeck,
         QStringLiteral("cases-with-ids.out"));
    window.placeOnScreen();
    window.show();

    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("estimatorTabs"));
    bool ok = true;
    tabs->setCurrentIndex(0);
    ok = save(&window, out.filePath(QStringLiteral("oruk-trait-tab.png"))) && ok;
    tabs->setCurrentIndex(1);
    ok = save(&window, out.filePath(QStringLiteral("oruk-class-tab.png"))) && ok;

    oruk::SettingsWindow settings;
    settings.show();
    ok = save(&settings, out.filePath(QStringLiteral("oruk-settings.png"))) && ok;

    // The CSV dialog with the survey's first rows and the types guessed for its columns, which
    // are those the README's travik --csv example gives them.
    const QString survey = examples.filePath(QStringLiteral("travik/survey.csv"));
    const oruk::CsvHeader header = oruk::readCsvHeader(survey);
    oruk::CsvImportChoice choice =
        oruk::defaultChoice(oruk::Estimator::Trait, QStringLiteral("survey.csv"), header.names);
    using Role = oruk::ColumnRole;
    const std::vector<Role> expected = {Role::Id,     Role::Binary,  Role::Binary,
                                        Role::Binary, Role::Binary,  Role::Normal,
                                        Role::Normal, Role::Nominal, Role::Ordinal};
    if (!header.problem.isEmpty() || header.guessedRoles != expected) {
        std::fprintf(stderr, "oruk_screenshots: %s does not have the expected columns\n",
                     qPrintable(survey));
        return 1;
    }
    choice.roles = header.guessedRoles;
    oruk::CsvImportDialog csvDialog(oruk::Estimator::Trait, choice, header.preview);
    csvDialog.show();
    ok = save(&csvDialog, out.filePath(QStringLiteral("oruk-csv-import.png"))) && ok;

    // The results window on its plots page: an ordinal item's category curves along the first
    // of two factors, and the class profiles of a three-class model.
    auto showPlots = [&](oruk::ResultsWindow& results, const oruk::RunOutcome& outcome) {
        results.showOutcome(outcome);
        results.findChild<QTabWidget*>(QStringLiteral("resultPages"))->setCurrentIndex(2);
        results.show();
        return outcome.results.has_value();
    };
    oruk::ResultsWindow traitResults(oruk::Estimator::Trait);
    ok = showPlots(traitResults,
                   sampleOutcome(oruk::Estimator::Trait, "travik.json", traitReport)) &&
         ok;
    auto* items = traitResults.findChild<QComboBox*>(QStringLiteral("plotItemBox"));
    items->setCurrentIndex(items->count() - 1);
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-trait.png"))) && ok;
    auto* traitPlots = traitResults.findChild<QComboBox*>(QStringLiteral("plotKindBox"));
    traitPlots->setCurrentIndex(traitPlots->findText(QStringLiteral("Test information")));
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-information.png"))) && ok;
    traitPlots->setCurrentIndex(0);
    traitResults.findChild<QTabWidget*>(QStringLiteral("resultPages"))->setCurrentIndex(1);
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-estimates.png"))) && ok;
    traitResults.findChild<QTabWidget*>(QStringLiteral("resultPages"))->setCurrentIndex(6);
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-standardized.png"))) && ok;
    traitResults.findChild<QTabWidget*>(QStringLiteral("resultPages"))->setCurrentIndex(5);
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-rotation.png"))) && ok;
    traitResults.findChild<QTabWidget*>(QStringLiteral("resultPages"))->setCurrentIndex(0);
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-trait-summary.png"))) && ok;
    oruk::ResultsWindow classResults(oruk::Estimator::Class);
    ok = showPlots(classResults,
                   sampleOutcome(oruk::Estimator::Class, "ploven.json", classReport)) &&
         ok;
    ok = save(&classResults, out.filePath(QStringLiteral("oruk-results-class.png"))) && ok;
    classResults.findChild<QTabWidget*>(QStringLiteral("resultPages"))->setCurrentIndex(0);
    ok = save(&classResults, out.filePath(QStringLiteral("oruk-results-summary.png"))) && ok;

    // Real runs of ploven on CSV files: the survey's items with their categories, and the
    // example answers fitted with one to four classes.
    const QString csvFolder = decks + QStringLiteral("/csv");
    QDir().mkpath(csvFolder);
    const QString surveyCopy = csvFolder + QStringLiteral("/survey.csv");
    const QString answers = csvFolder + QStringLiteral("/answers.csv");
    QFile::copy(survey, surveyCopy);
    QFile::copy(examples.filePath(QStringLiteral("ploven/answers.csv")), answers);
    const auto categories =
        csvRun(oruk::Estimator::Class,
               {QStringLiteral("--classes"), QStringLiteral("2"), QStringLiteral("--id"),
                QStringLiteral("id"), QStringLiteral("--items"),
                QStringLiteral("owns_car,votes,volunteers,reads_news,transport,satisfaction")},
               surveyCopy, work.path());
    if (categories) {
        oruk::ResultsWindow results(oruk::Estimator::Class);
        showPlots(results, *categories);
        auto* kinds = results.findChild<QComboBox*>(QStringLiteral("plotKindBox"));
        kinds->setCurrentIndex(kinds->findText(QStringLiteral("Category profiles")));
        auto* surveyItems = results.findChild<QComboBox*>(QStringLiteral("plotItemBox"));
        surveyItems->setCurrentIndex(
            surveyItems->findText(QStringLiteral("transport"), Qt::MatchContains));
        ok = save(&results, out.filePath(QStringLiteral("oruk-results-categories.png"))) && ok;
    }
    const auto counts = csvRun(oruk::Estimator::Class,
                               {QStringLiteral("--classes"), QStringLiteral("1-4"),
                                QStringLiteral("--id"), QStringLiteral("person")},
                               answers, work.path());
    if (counts) {
        oruk::ResultsWindow results(oruk::Estimator::Class);
        showPlots(results, *counts);
        auto* kinds = results.findChild<QComboBox*>(QStringLiteral("plotKindBox"));
        kinds->setCurrentIndex(kinds->findText(QStringLiteral("BIC by number of classes")));
        ok = save(&results, out.filePath(QStringLiteral("oruk-results-comparison-plot.png"))) && ok;
        results.findChild<QTabWidget*>(QStringLiteral("resultPages"))->setCurrentIndex(8);
        ok = save(&results, out.filePath(QStringLiteral("oruk-results-comparison.png"))) && ok;
    }
    ok = ok && categories && counts;

    QDir(decks).removeRecursively();
    return ok ? 0 : 1;
}
