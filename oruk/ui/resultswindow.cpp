#include "oruk/ui/resultswindow.hpp"

#include "oruk/core/classcomparison.hpp"
#include "oruk/core/exportfolder.hpp"
#include "oruk/core/resulttables.hpp"
#include "oruk/ui/chartbuilder.hpp"
#include "oruk/ui/messages.hpp"

#include <QApplication>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace oruk {

namespace {

enum class Plot {
    ItemCurves,
    ItemInformation,
    TestInformation,
    ClassProfiles,
    CategoryProfiles,
    ClassSizes,
    Comparison,
    Loglikelihood
};

// The pages in the order of the tabs.
enum Page {
    SummaryPage,
    EstimatesPage,
    PlotsPage,
    CasesPage,
    ItemFitPage,
    RotationPage,
    StandardizedPage,
    ResidualsPage,
    ComparisonPage
};

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QTableView* tableView(const char* name) {
    auto* view = named(new QTableView, name);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->setVisible(false);
    // Rows as high as a line of text, so a page shows as many as it can.
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // Numbers stay next to their captions instead of at the far edge of a wide column.
    view->horizontalHeader()->setStretchLastSection(false);
    return view;
}

void setTable(QTableView* view, Table table) {
    QAbstractItemModel* old = view->model();
    view->setModel(new TableModel(std::move(table), view));
    delete old;
    view->resizeColumnsToContents();
    // A long text (a reason in words) would push the numbers of its column out of sight; it
    // is cut instead, whole in its tool tip.
    constexpr int kWidestColumn = 380;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        view->setColumnWidth(c, qMin(view->columnWidth(c), kWidestColumn));
}

// The summary's values are read whole: the value column takes the rest of the width and a long
// text (a title, a reason) wraps onto further lines.
void setWrappedTable(QTableView* view, Table table) {
    QAbstractItemModel* old = view->model();
    auto* model = new TableModel(std::move(table), view);
    model->setNumbersLeft(true);
    view->setModel(model);
    delete old;
    view->setWordWrap(true);
    view->horizontalHeader()->setStretchLastSection(true);
    view->resizeColumnToContents(0);
    view->resizeRowsToContents();
}

const Table* tableOf(const QTableView* view) {
    const auto* model = view ? qobject_cast<const TableModel*>(view->model()) : nullptr;
    return model ? &model->table() : nullptr;
}

QString capitalized(QString text) {
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
}

// A part of a file name: lower case, blanks and separators as dashes.
QString fileNamePart(const QString& text) {
    QString part = text.toLower();
    part.replace(QRegularExpression(QStringLiteral("[^a-z0-9._]+")), QStringLiteral("-"));
    while (part.startsWith(QLatin1Char('-'))) part.remove(0, 1);
    while (part.endsWith(QLatin1Char('-'))) part.chop(1);
    return part;
}

bool hasItemChoice(Plot plot) {
    return plot == Plot::ItemCurves || plot == Plot::CategoryProfiles;
}

bool hasFactorChoice(Plot plot) {
    return plot == Plot::ItemCurves || plot == Plot::ItemInformation ||
           plot == Plot::TestInformation;
}

} // namespace

ResultsWindow::ResultsWindow(Estimator estimator, QWidget* parent)
    : QDialog(parent), estimator_(estimator) {
    setObjectName(QStringLiteral("resultsWindow"));
    setWindowTitle(profileOf(estimator).shownName + QStringLiteral(" results"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);

    status_ = named(new QLabel, "resultStatusLabel");
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);
    warnings_ = named(new QLabel, "resultWarningsLabel");
    warnings_->setWordWrap(true);
    warnings_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    warnings_->setStyleSheet(QStringLiteral("color: #8a5a00"));
    layout->addWidget(warnings_);

    pages_ = named(new QTabWidget, "resultPages");
    summary_ = tableView("summaryTableView");
    // Wrapped values take the height their column's width leaves them, whenever it changes.
    connect(summary_->horizontalHeader(), &QHeaderView::sectionResized, summary_,
            &QTableView::resizeRowsToContents);
    estimates_ = tableView("estimatesTableView");
    cases_ = tableView("casesTableView");
    itemFit_ = tableView("itemFitTableView");
    rotation_ = tableView("rotatedLoadingsTableView");
    standardized_ = tableView("standardizedLoadingsTableView");
    residuals_ = tableView("bivariateResidualsTableView");
    comparison_ = tableView("classComparisonTableView");

    plotsPage_ = new QWidget;
    auto* plotLayout = new QVBoxLayout(plotsPage_);
    auto* choosers = new QHBoxLayout;
    plotKind_ = named(new QComboBox, "plotKindBox");
    plotItem_ = named(new QComboBox, "plotItemBox");
    plotFactor_ = named(new QComboBox, "plotFactorBox");
    choosers->addWidget(new QLabel(QStringLiteral("Plot:")));
    choosers->addWidget(plotKind_);
    choosers->addWidget(new QLabel(QStringLiteral("Item:")));
    choosers->addWidget(plotItem_, 1);
    auto* factorLabel = new QLabel(QStringLiteral("Factor:"));
    choosers->addWidget(factorLabel);
    choosers->addWidget(plotFactor_);
    // Classes have no factors: the class window shows no trait controls.
    factorLabel->setVisible(estimator == Estimator::Trait);
    plotFactor_->setVisible(estimator == Estimator::Trait);
    plotLayout->addLayout(choosers);
    plotChart_ = named(new QChartView, "plotChartView");
    plotChart_->setRenderHint(QPainter::Antialiasing);
    plotChart_->setMinimumSize(560, 380);
    plotProblem_ = named(new QLabel, "plotProblemLabel");
    plotProblem_->setWordWrap(true);
    plotLayout->addWidget(plotChart_, 1);
    plotLayout->addWidget(plotProblem_);

    pages_->addTab(summary_, QStringLiteral("Summary"));
    pages_->addTab(estimates_, QStringLiteral("Estimates"));
    pages_->addTab(plotsPage_, QStringLiteral("Plots"));
    pages_->addTab(cases_, QStringLiteral("Cases"));
    pages_->addTab(itemFit_, QStringLiteral("Item fit"));
    pages_->addTab(rotation_, QStringLiteral("Rotated loadings"));
    pages_->addTab(standardized_, QStringLiteral("Standardized loadings"));
    pages_->addTab(residuals_, QStringLiteral("Bivariate residuals"));
    pages_->addTab(comparison_, QStringLiteral("Class counts"));
    layout->addWidget(pages_, 1);

    auto* buttons = new QHBoxLayout;
    copyTable_ = named(new QPushButton(QStringLiteral("Copy table")), "copyTableButton");
    savePlot_ = named(new QPushButton(QStringLiteral("Save plot...")), "savePlotButton");
    exportAll_ = named(new QPushButton(QStringLiteral("Export all...")), "exportAllButton");
    exportAll_->setToolTip(
        QStringLiteral("Write every plot (PNG) and every table (CSV) into a folder"));
    viewReport_ = named(new QPushButton(QStringLiteral("View outp.")), "viewResultsReportButton");
    saveReport_ = named(new QPushButton(QStringLiteral("Save report as...")), "saveReportButton");
    saveReport_->setVisible(false);
    feedback_ = named(new QLabel, "resultFeedbackLabel");
    auto* close = named(new QPushButton(QStringLiteral("Close")), "closeResultsButton");
    buttons->addWidget(copyTable_);
    buttons->addWidget(savePlot_);
    buttons->addWidget(exportAll_);
    buttons->addWidget(viewReport_);
    buttons->addWidget(saveReport_);
    buttons->addWidget(feedback_, 1);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(copyTable_, &QPushButton::clicked, this, &ResultsWindow::copyTable);
    connect(savePlot_, &QPushButton::clicked, this, &ResultsWindow::askAndSavePlot);
    connect(exportAll_, &QPushButton::clicked, this, &ResultsWindow::askAndExportAll);
    connect(saveReport_, &QPushButton::clicked, this, &ResultsWindow::askAndSaveReport);
    connect(viewReport_, &QPushButton::clicked, this,
            [this] { emit viewRequested(outcome_.outputPath, false); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(plotKind_, &QComboBox::currentIndexChanged, this, &ResultsWindow::choosePlot);
    connect(plotItem_, &QComboBox::currentIndexChanged, this, &ResultsWindow::showPlot);
    connect(plotFactor_, &QComboBox::currentIndexChanged, this, &ResultsWindow::showPlot);
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        copyTable_->setEnabled(page != PlotsPage);
        savePlot_->setEnabled(page == PlotsPage && pages_->isTabEnabled(PlotsPage));
        feedback_->clear();
    });
    resize(860, 660);
}

const FitResults* ResultsWindow::shownResults() const {
    return outcome_.results && showsEstimates() ? &*outcome_.results : nullptr;
}

void ResultsWindow::showOutcome(const RunOutcome& outcome) {
    outcome_ = outcome;
    const EstimatorProfile& profile = profileOf(estimator_);
    const bool success = outcome.ending.ending == RunEnding::Converged;
    QString text = QStringLiteral("<b>%1: %2</b>")
                       .arg(profile.shownName,
                            capitalized(endingWords(outcome.ending.ending)).toHtmlEscaped());
    // The estimator's own spacing kept: its messages line up numbers with blanks.
    if (!outcome.ending.detail.isEmpty())
        text += QStringLiteral("<br><span style=\"white-space: pre-wrap\">") +
                outcome.ending.detail.toHtmlEscaped().replace(QLatin1Char('\n'),
                                                              QStringLiteral("<br>")) +
                QStringLiteral("</span>");
    if (outcome.reportDelivered)
        text += QStringLiteral("<br>Report: ") +
                QDir::toNativeSeparators(outcome.outputPath).toHtmlEscaped();
    if (!outcome.undeliveredReport.isEmpty())
        text += QStringLiteral("<br>The report is kept here until you close the window: "
                               "<i>Save report as...</i> writes it elsewhere.");
    if (!outcome.keptDeck.isEmpty())
        text += QStringLiteral("<br>Deck: ") +
                QDir::toNativeSeparators(outcome.keptDeck).toHtmlEscaped();
    status_->setText(text);
    status_->setStyleSheet(success ? QString() : QStringLiteral("color: #a00000"));
    warnings_->setText(outcome.warnings.isEmpty() ? QString()
                                                  : QStringLiteral("Warnings:\n") +
                                                        outcome.warnings.join(QLatin1Char('\n')));
    warnings_->setVisible(!outcome.warnings.isEmpty());
    feedback_->clear();

    // The estimates of a run that failed, or whose report could not be written, are not shown
    // as if it had succeeded: only its ending and why.
    const FitResults* results = shownResults();
    const bool trait = estimator_ == Estimator::Trait;
    setWrappedTable(summary_, summaryTable(outcome.ending, results));
    setTable(estimates_, results ? estimatesTable(*results) : Table{});
    setTable(cases_, results ? outcome.cases : Table{});
    setTable(itemFit_, results ? itemFitTable(*results) : Table{});
    setTable(rotation_, results ? rotatedLoadingsTable(*results) : Table{});
    setTable(standardized_, results && trait ? standardizedLoadingsTable(*results) : Table{});
    setTable(residuals_, results ? bivariateResidualsTable(*results) : Table{});
    setTable(comparison_, results ? comparisonTable(outcome.comparison) : Table{});
    // A page with nothing to show (a rejected deck has no estimates, a file of no cases only
    // its header) stays disabled.
    pages_->setTabEnabled(EstimatesPage, results && !results->items.empty());
    pages_->setTabEnabled(PlotsPage, results != nullptr);
    pages_->setTabEnabled(CasesPage, results && !outcome.cases.rows.empty());
    // Only what the run computed: the pages of other analyses are not offered at all.
    pages_->setTabVisible(ItemFitPage, results && !results->itemFit.empty());
    pages_->setTabVisible(RotationPage, results && results->rotation.has_value());
    pages_->setTabVisible(StandardizedPage,
                          trait && results && !tableOf(standardized_)->rows.empty());
    pages_->setTabVisible(ResidualsPage, results && !results->bivariateResiduals.empty());
    pages_->setTabVisible(ComparisonPage, results && !outcome.comparison.empty());
    saveReport_->setVisible(!outcome.undeliveredReport.isEmpty());
    exportAll_->setEnabled(results != nullptr);

    const QSignalBlocker blockPlot(plotKind_), blockItem(plotItem_), blockFactor(plotFactor_);
    plotKind_->clear();
    if (results && trait && !results->items.empty()) {
        plotKind_->addItem(QStringLiteral("Item response curves"), int(Plot::ItemCurves));
        plotKind_->addItem(QStringLiteral("Test information"), int(Plot::TestInformation));
        plotKind_->addItem(QStringLiteral("Item information"), int(Plot::ItemInformation));
    }
    if (results && !trait && !results->items.empty()) {
        plotKind_->addItem(QStringLiteral("Class profiles"), int(Plot::ClassProfiles));
        plotKind_->addItem(QStringLiteral("Category profiles"), int(Plot::CategoryProfiles));
    }
    if (results && !trait && !results->classSizes.empty())
        plotKind_->addItem(QStringLiteral("Class sizes"), int(Plot::ClassSizes));
    if (results && !outcome.comparison.empty())
        plotKind_->addItem(QStringLiteral("BIC by number of classes"), int(Plot::Comparison));
    plotKind_->addItem(QStringLiteral("Loglikelihood by cycle"), int(Plot::Loglikelihood));
    plotItem_->clear();
    if (results) {
        for (const ItemResult& item : results->items)
            plotItem_->addItem(QStringLiteral("%1. %2 (%3)")
                                   .arg(item.number)
                                   .arg(item.name, itemTypeName(item.type)));
    }
    plotFactor_->clear();
    const int factors = results ? qMax(1, results->factors) : 1;
    for (int f = 1; f <= factors; ++f) plotFactor_->addItem(QStringLiteral("z%1").arg(f));
    // Only a report this run delivered is offered: the output file may hold an older one.
    viewReport_->setEnabled(outcome.reportDelivered);
    pages_->setCurrentIndex(SummaryPage);
    copyTable_->setEnabled(true);
    savePlot_->setEnabled(false);
    choosePlot();
}

void ResultsWindow::choosePlot() {
    const auto plot = static_cast<Plot>(plotKind_->currentData().toInt());
    plotItem_->setEnabled(hasItemChoice(plot));
    plotFactor_->setEnabled(hasFactorChoice(plot) && plotFactor_->count() > 1);
    showPlot();
}

ResultsWindow::PlotChoice ResultsWindow::currentPlot() const {
    return {plotKind_->currentData().toInt(), qMax(0, plotItem_->currentIndex()),
            qMax(0, plotFactor_->currentIndex())};
}

ChartData ResultsWindow::chartFor(const PlotChoice& choice) const {
    const FitResults* results = shownResults();
    const auto item = std::size_t(choice.item);
    switch (static_cast<Plot>(choice.kind)) {
    case Plot::ItemCurves:
        return results ? itemCurvesChart(*results, item, choice.factor) : ChartData{};
    case Plot::ItemInformation:
        return results ? itemInformationChart(*results, choice.factor) : ChartData{};
    case Plot::TestInformation:
        return results ? testInformationChart(*results, choice.factor) : ChartData{};
    case Plot::ClassProfiles:
        return results ? classProfileChart(*results) : ChartData{};
    case Plot::CategoryProfiles:
        return results ? categoryProfileChart(*results, item) : ChartData{};
    case Plot::ClassSizes:
        return results ? classSizesChart(*results) : ChartData{};
    case Plot::Comparison:
        return comparisonChart(outcome_.comparison);
    case Plot::Loglikelihood:
        return loglikelihoodChart(outcome_.history);
    }
    return {};
}

void ResultsWindow::showPlot() {
    const ChartData shown = chartFor(currentPlot());
    QChart* old = plotChart_->chart();
    plotChart_->setChart(buildChart(shown));
    delete old;
    plotProblem_->setText(shown.problem);
    plotProblem_->setVisible(!shown.problem.isEmpty());
}

QString ResultsWindow::currentTableText() const {
    const auto* view = qobject_cast<const QTableView*>(pages_->currentWidget());
    const Table* table = tableOf(view ? view : summary_);
    return table ? tabSeparated(*table) : QString();
}

void ResultsWindow::copyTable() {
    const auto* view = qobject_cast<const QTableView*>(pages_->currentWidget());
    const Table* table = tableOf(view ? view : summary_);
    QApplication::clipboard()->setText(currentTableText());
    const qsizetype rows = table ? qsizetype(table->rows.size()) : 0;
    feedback_->setText(QStringLiteral("Copied the %1 table (%2 %3) to the clipboard.")
                           .arg(pages_->tabText(pages_->currentIndex()))
                           .arg(rows)
                           .arg(rows == 1 ? QStringLiteral("row") : QStringLiteral("rows")));
}

bool ResultsWindow::showsEstimates() const {
    if (outcome_.result != RunResult::Completed) return false;
    switch (outcome_.ending.ending) {
    case RunEnding::Converged:
    case RunEnding::NoConvergence:
    case RunEnding::Diverged:
        return true;
    default:
        return false;
    }
}

bool ResultsWindow::saveReportTo(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) &&
        file.write(outcome_.undeliveredReport) == outcome_.undeliveredReport.size() &&
        file.flush()) {
        file.close();
        viewReport_->setEnabled(true);
        outcome_.outputPath = path;
        feedback_->setText(
            QStringLiteral("Saved the report as %1.").arg(QDir::toNativeSeparators(path)));
        return true;
    }
    showMessage(this, QMessageBox::Critical, QStringLiteral("Error"),
                QStringLiteral("The report cannot be written to \"%1\": %2.")
                    .arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}

void ResultsWindow::askAndSaveReport() {
    const QString suggested =
        outcome_.outputPath.isEmpty()
            ? QDir::homePath()
            : QDir::home().filePath(QFileInfo(outcome_.outputPath).fileName());
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save report as"), suggested);
    if (!path.isEmpty()) saveReportTo(path);
}

QString ResultsWindow::plotFileName(const PlotChoice& choice) const {
    const QString base = outcome_.outputPath.isEmpty()
                             ? profileOf(estimator_).program
                             : QFileInfo(outcome_.outputPath).completeBaseName();
    const int index = plotKind_->findData(choice.kind);
    QString name = base + QLatin1Char('-') +
                   fileNamePart(index >= 0 ? plotKind_->itemText(index) : QStringLiteral("plot"));
    const auto plot = static_cast<Plot>(choice.kind);
    const FitResults* results = shownResults();
    if (hasItemChoice(plot) && results && std::size_t(choice.item) < results->items.size())
        name += QLatin1Char('-') + fileNamePart(results->items[std::size_t(choice.item)].name);
    if (hasFactorChoice(plot) && results && results->factors == 2)
        name += QStringLiteral("-z%1").arg(choice.factor + 1);
    return name;
}

QString ResultsWindow::suggestedPlotName() const {
    return plotFileName(currentPlot()) + QStringLiteral(".png");
}

bool ResultsWindow::savePlotTo(const QString& path, double scale) {
    QString error;
    if (savePicture(plotChart_, path, &error, scale)) {
        storeExportFolder(QFileInfo(path).absolutePath());
        feedback_->setText(QStringLiteral("Saved %1.").arg(QDir::toNativeSeparators(path)));
        return true;
    }
    showMessage(this, QMessageBox::Critical, QStringLiteral("Error"), error);
    return false;
}

void ResultsWindow::askAndSavePlot() {
    const QString reportFolder =
        outcome_.outputPath.isEmpty() ? QString() : QFileInfo(outcome_.outputPath).absolutePath();
    const QString folder = storedExportFolder(reportFolder);
    const QString png2 = QStringLiteral("PNG picture, twice the size on screen (*.png)");
    const QString png1 = QStringLiteral("PNG picture, the size on screen (*.png)");
    const QString png4 = QStringLiteral("PNG picture, four times the size on screen (*.png)");
    const QString svg = QStringLiteral("SVG drawing (*.svg)");
    QString chosenFilter = png2;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save plot"), QDir(folder).filePath(suggestedPlotName()),
        QStringList{png2, png1, png4, svg}.join(QStringLiteral(";;")), &chosenFilter);
    if (path.isEmpty()) return;
    const bool asSvg = chosenFilter == svg;
    if (QFileInfo(path).suffix().isEmpty())
        path += asSvg ? QStringLiteral(".svg") : QStringLiteral(".png");
    savePlotTo(path, chosenFilter == png1 ? 1.0 : chosenFilter == png4 ? 4.0 : 2.0);
}

QStringList ResultsWindow::exportAllTo(const QString& folder) {
    QStringList written;
    const FitResults* results = shownResults();
    auto fail = [&](const QString& why) {
        showMessage(this, QMessageBox::Critical, QStringLiteral("Error"), why);
        return QStringList{};
    };
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("The folder \"%1\" cannot be made.")
                        .arg(QDir::toNativeSeparators(folder)));
    const QDir dir(folder);
    // Every table of a page that is offered, as CSV.
    const QString base = outcome_.outputPath.isEmpty()
                             ? profileOf(estimator_).program
                             : QFileInfo(outcome_.outputPath).completeBaseName();
    for (int page = 0; page < pages_->count(); ++page) {
        const auto* view = qobject_cast<const QTableView*>(pages_->widget(page));
        const Table* table = tableOf(view);
        if (!table || !pages_->isTabVisible(page) || !pages_->isTabEnabled(page) ||
            table->headers.isEmpty())
            continue;
        const QString path =
            dir.filePath(base + QLatin1Char('-') + fileNamePart(pages_->tabText(page)) + ".csv");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(csvText(*table).toUtf8()) < 0)
            return fail(QStringLiteral("\"%1\" cannot be written: %2.")
                            .arg(QDir::toNativeSeparators(path), file.errorString()));
        written << path;
    }
    // Every plot: each kind, for each item and factor where the kind has that choice.
    QChartView view;
    view.setRenderHint(QPainter::Antialiasing);
    view.resize(plotChart_->size().expandedTo(QSize(760, 520)));
    const int items = results ? int(results->items.size()) : 0;
    for (int k = 0; k < plotKind_->count(); ++k) {
        const int kind = plotKind_->itemData(k).toInt();
        const auto plot = static_cast<Plot>(kind);
        for (int item = 0; item < (hasItemChoice(plot) ? items : 1); ++item) {
            for (int factor = 0; factor < (hasFactorChoice(plot) ? plotFactor_->count() : 1);
                 ++factor) {
                const PlotChoice choice{kind, item, factor};
                const ChartData chart = chartFor(choice);
                if (chart.lines.empty() && chart.bars.empty()) continue;
                QChart* old = view.chart();
                view.setChart(buildChart(chart));
                delete old;
                const QString path = dir.filePath(plotFileName(choice) + QStringLiteral(".png"));
                QString error;
                if (!savePicture(&view, path, &error, 2.0)) return fail(error);
                written << path;
            }
        }
    }
    storeExportFolder(dir.absolutePath());
    feedback_->setText(QStringLiteral("Exported %1 files to %2.")
                           .arg(written.size())
                           .arg(QDir::toNativeSeparators(dir.absolutePath())));
    return written;
}

void ResultsWindow::askAndExportAll() {
    const QString reportFolder =
        outcome_.outputPath.isEmpty() ? QString() : QFileInfo(outcome_.outputPath).absolutePath();
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Export all plots and tables into"), storedExportFolder(reportFolder));
    if (!folder.isEmpty()) exportAllTo(folder);
}

} // namespace oruk
