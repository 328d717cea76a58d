#include "oruk/ui/resultswindow.hpp"

#include "oruk/core/resultcharts.hpp"
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
#include <QStackedLayout>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace oruk {

namespace {

enum class Plot { ItemCurves, ClassProfiles, ClassSizes, Loglikelihood };

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

const Table* tableOf(const QTableView* view) {
    const auto* model = qobject_cast<const TableModel*>(view->model());
    return model ? &model->table() : nullptr;
}

QString capitalized(QString text) {
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
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
    estimates_ = tableView("estimatesTableView");
    cases_ = tableView("casesTableView");
    itemFit_ = tableView("itemFitTableView");
    rotation_ = tableView("rotatedLoadingsTableView");

    auto* plots = new QWidget;
    auto* plotLayout = new QVBoxLayout(plots);
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
    pages_->addTab(plots, QStringLiteral("Plots"));
    pages_->addTab(cases_, QStringLiteral("Cases"));
    pages_->addTab(itemFit_, QStringLiteral("Item fit"));
    pages_->addTab(rotation_, QStringLiteral("Rotated loadings"));
    layout->addWidget(pages_, 1);

    auto* buttons = new QHBoxLayout;
    copyTable_ = named(new QPushButton(QStringLiteral("Copy table")), "copyTableButton");
    savePlot_ = named(new QPushButton(QStringLiteral("Save plot...")), "savePlotButton");
    viewReport_ = named(new QPushButton(QStringLiteral("View outp.")), "viewResultsReportButton");
    saveReport_ = named(new QPushButton(QStringLiteral("Save report as...")), "saveReportButton");
    saveReport_->setVisible(false);
    auto* close = named(new QPushButton(QStringLiteral("Close")), "closeResultsButton");
    buttons->addWidget(copyTable_);
    buttons->addWidget(savePlot_);
    buttons->addWidget(viewReport_);
    buttons->addWidget(saveReport_);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(copyTable_, &QPushButton::clicked, this, &ResultsWindow::copyTable);
    connect(savePlot_, &QPushButton::clicked, this, &ResultsWindow::askAndSavePlot);
    connect(saveReport_, &QPushButton::clicked, this, &ResultsWindow::askAndSaveReport);
    connect(viewReport_, &QPushButton::clicked, this,
            [this] { emit viewRequested(outcome_.outputPath, false); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(plotKind_, &QComboBox::currentIndexChanged, this, &ResultsWindow::choosePlot);
    connect(plotItem_, &QComboBox::currentIndexChanged, this, &ResultsWindow::showPlot);
    connect(plotFactor_, &QComboBox::currentIndexChanged, this, &ResultsWindow::showPlot);
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        copyTable_->setEnabled(page != 2);
        savePlot_->setEnabled(page == 2 && pages_->isTabEnabled(2));
    });
    resize(760, 620);
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
    if (!outcome.keptDeck.isEmpty())
        text += QStringLiteral("<br>Deck: ") +
                QDir::toNativeSeparators(outcome.keptDeck).toHtmlEscaped();
    status_->setText(text);
    status_->setStyleSheet(success ? QString() : QStringLiteral("color: #a00000"));
    warnings_->setText(outcome.warnings.isEmpty() ? QString()
                                                  : QStringLiteral("Warnings:\n") +
                                                        outcome.warnings.join(QLatin1Char('\n')));
    warnings_->setVisible(!outcome.warnings.isEmpty());

    // The estimates of a run that failed, or whose report could not be written, are not shown
    // as if it had succeeded: only its ending and why.
    const FitResults* results = outcome.results && showsEstimates() ? &*outcome.results : nullptr;
    setTable(summary_, summaryTable(outcome.ending, results));
    setTable(estimates_, results ? estimatesTable(*results) : Table{});
    setTable(cases_, results ? outcome.cases : Table{});
    // A page with nothing to show (a rejected deck has no estimates, a file of no cases only
    // its header) stays disabled.
    pages_->setTabEnabled(1, results && !results->items.empty());
    pages_->setTabEnabled(2, results != nullptr);
    pages_->setTabEnabled(3, results && !outcome.cases.rows.empty());
    setTable(itemFit_, results ? itemFitTable(*results) : Table{});
    setTable(rotation_, results ? rotatedLoadingsTable(*results) : Table{});
    // Only what the run computed: ploven and one-factor fits have neither page.
    pages_->setTabVisible(4, results && !results->itemFit.empty());
    pages_->setTabVisible(5, results && results->rotation.has_value());
    saveReport_->setVisible(!outcome.undeliveredReport.isEmpty());

    const QSignalBlocker blockPlot(plotKind_), blockItem(plotItem_), blockFactor(plotFactor_);
    plotKind_->clear();
    if (results && estimator_ == Estimator::Trait && !results->items.empty())
        plotKind_->addItem(QStringLiteral("Item response curves"), int(Plot::ItemCurves));
    if (results && estimator_ == Estimator::Class && !results->items.empty())
        plotKind_->addItem(QStringLiteral("Class profiles"), int(Plot::ClassProfiles));
    if (results && estimator_ == Estimator::Class && !results->classSizes.empty())
        plotKind_->addItem(QStringLiteral("Class sizes"), int(Plot::ClassSizes));
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
    pages_->setCurrentIndex(0);
    copyTable_->setEnabled(true);
    savePlot_->setEnabled(false);
    choosePlot();
}

void ResultsWindow::choosePlot() {
    const auto plot = static_cast<Plot>(plotKind_->currentData().toInt());
    plotItem_->setEnabled(plot == Plot::ItemCurves);
    plotFactor_->setEnabled(plot == Plot::ItemCurves && plotFactor_->count() > 1);
    showPlot();
}

void ResultsWindow::showPlot() {
    const FitResults* results = outcome_.results ? &*outcome_.results : nullptr;
    ChartData shown;
    switch (static_cast<Plot>(plotKind_->currentData().toInt())) {
    case Plot::ItemCurves:
        if (results)
            shown = itemCurvesChart(*results, std::size_t(qMax(0, plotItem_->currentIndex())),
                                    qMax(0, plotFactor_->currentIndex()));
        break;
    case Plot::ClassProfiles:
        if (results) shown = classProfileChart(*results);
        break;
    case Plot::ClassSizes:
        if (results) shown = classSizesChart(*results);
        break;
    case Plot::Loglikelihood:
        shown = loglikelihoodChart(outcome_.history);
        break;
    }
    QChart* old = plotChart_->chart();
    plotChart_->setChart(buildChart(shown));
    delete old;
    plotProblem_->setText(shown.problem);
    plotProblem_->setVisible(!shown.problem.isEmpty());
}

QString ResultsWindow::currentTableText() const {
    const QTableView* views[] = {summary_, estimates_, nullptr, cases_, itemFit_, rotation_};
    const int page = pages_->currentIndex();
    const QTableView* view = page >= 0 && page < 6 && views[page] ? views[page] : summary_;
    const Table* table = tableOf(view);
    return table ? tabSeparated(*table) : QString();
}

void ResultsWindow::copyTable() {
    QApplication::clipboard()->setText(currentTableText());
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

bool ResultsWindow::savePlotTo(const QString& path) {
    QString error;
    if (savePicture(plotChart_, path, &error)) return true;
    showMessage(this, QMessageBox::Critical, QStringLiteral("Error"), error);
    return false;
}

void ResultsWindow::askAndSavePlot() {
    const QString folder =
        outcome_.outputPath.isEmpty() ? QString() : QFileInfo(outcome_.outputPath).absolutePath();
    QString chosenFilter;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save plot"), folder,
        QStringLiteral("PNG picture (*.png);;SVG drawing (*.svg)"), &chosenFilter);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty())
        path += chosenFilter.startsWith(QLatin1String("SVG")) ? QStringLiteral(".svg")
                                                              : QStringLiteral(".png");
    savePlotTo(path);
}

} // namespace oruk
