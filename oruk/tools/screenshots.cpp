// Renders the pictures of the documentation: each tab of the main window with an example deck
// chosen, the settings window, and the results window with a latent trait item's curves and a
// latent class profile (from the sample results of the tests). Usage: oruk_screenshots
// OUTPUT_FOLDER. Run it with QT_QPA_PLATFORM=offscreen where there is no display.
#include "oruk/core/csvtext.hpp"
#include "oruk/core/results.hpp"
#include "oruk/ui/estimatortab.hpp"
#include "oruk/ui/mainwindow.hpp"
#include "oruk/ui/resultswindow.hpp"
#include "oruk/ui/settingswindow.hpp"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

namespace {

const char* const kTraitDeck = "Attitudes to science: 4 binary and 2 ordinal items\n"
                               "  8 4 0 0 2 16\n"
                               "\n"
                               "3 4\n"
                               "1 0 30 1 0.0001 0\n"
                               "1 0 1 1 2 3\n1 1 1 0 3 4\n0 0 1 0 1 2\n1 1 1 1 3 4\n"
                               "0 0 0 0 1 1\n1 0 0 1 2 2\n0 1 1 1 2 3\n1 1 0 1 3 4\n";

const char* const kClassDeck = "Reading test, 5 items\n"
                               "6 2 5 1 0 0 0 1 0 0\n"
                               "0.000001 500 0\n"
                               "12 1 1 1 1 1\n7 1 1 1 0 1\n4 1 0 0 1 0\n"
                               "9 0 0 0 0 0\n5 0 1 0 0 0\n3 1 0 1 1 1\n";

bool write(const QString& path, const char* text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) >= 0;
}

QByteArray sample(const char* name) {
    QFile file(QStringLiteral(ORUK_SAMPLE_RESULTS "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A finished run as the results window gets it, from a sample results file.
oruk::RunOutcome sampleOutcome(oruk::Estimator estimator, const char* json, const QString& report) {
    oruk::RunOutcome outcome;
    outcome.estimator = estimator;
    outcome.results = oruk::parseResults(sample(json), QLatin1String(json)).results;
    outcome.ending = {oruk::RunEnding::Converged, QString()};
    outcome.outputPath = report;
    outcome.reportDelivered = true;
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
    const QString decks = QDir::temp().filePath(QStringLiteral("oruk-examples"));
    QDir().mkpath(decks);
    const QString traitDeck = decks + QStringLiteral("/science.inp");
    const QString classDeck = decks + QStringLiteral("/reading.inp");
    if (!work.isValid() || !write(traitDeck, kTraitDeck) || !write(classDeck, kClassDeck)) {
        std::fprintf(stderr, "oruk_screenshots: cannot write the example decks\n");
        return 1;
    }

    oruk::MainWindow window({QCoreApplication::applicationDirPath(), work.path()});
    auto fill = [&](oruk::Estimator estimator, const char* input, const char* output,
                    const QString& deck, const QString& report) {
        window.findChild<QLineEdit*>(QLatin1String(input))->setText(deck);
        window.findChild<QLineEdit*>(QLatin1String(output))->setText(report);
        window.tab(estimator)->reloadInput();
    };
    fill(oruk::Estimator::Trait, "Text1", "Text2", traitDeck, decks + "/science.out");
    fill(oruk::Estimator::Class, "Text3", "Text4", classDeck, decks + "/reading.out");
    window.placeOnScreen();
    window.show();

    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    bool ok = true;
    tabs->setCurrentIndex(0);
    ok = save(&window, out.filePath(QStringLiteral("oruk-trait-tab.png"))) && ok;
    tabs->setCurrentIndex(1);
    ok = save(&window, out.filePath(QStringLiteral("oruk-class-tab.png"))) && ok;

    oruk::SettingsWindow settings;
    settings.show();
    ok = save(&settings, out.filePath(QStringLiteral("oruk-settings.png"))) && ok;

    // The results window on its plots page: an ordinal item's category curves, and the class
    // profiles of a three-class model.
    auto showPlots = [&](oruk::ResultsWindow& results, const oruk::RunOutcome& outcome) {
        results.showOutcome(outcome);
        results.findChild<QTabWidget*>(QStringLiteral("tabResults"))->setCurrentIndex(2);
        results.show();
        return outcome.results.has_value();
    };
    oruk::ResultsWindow traitResults(oruk::Estimator::Trait);
    ok = showPlots(traitResults,
                   sampleOutcome(oruk::Estimator::Trait, "travik.json", decks + "/science.out")) &&
         ok;
    auto* items = traitResults.findChild<QComboBox*>(QStringLiteral("cboItem"));
    items->setCurrentIndex(items->count() - 1);
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-trait.png"))) && ok;
    traitResults.findChild<QTabWidget*>(QStringLiteral("tabResults"))->setCurrentIndex(1);
    ok = save(&traitResults, out.filePath(QStringLiteral("oruk-results-estimates.png"))) && ok;
    oruk::ResultsWindow classResults(oruk::Estimator::Class);
    ok = showPlots(classResults,
                   sampleOutcome(oruk::Estimator::Class, "ploven.json", decks + "/reading.out")) &&
         ok;
    ok = save(&classResults, out.filePath(QStringLiteral("oruk-results-class.png"))) && ok;
    classResults.findChild<QTabWidget*>(QStringLiteral("tabResults"))->setCurrentIndex(0);
    ok = save(&classResults, out.filePath(QStringLiteral("oruk-results-summary.png"))) && ok;

    QDir(decks).removeRecursively();
    return ok ? 0 : 1;
}
