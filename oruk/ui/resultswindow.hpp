// The results of a run: how it ended, the fit summary, the estimates, plots, the per-case
// results and the pages of the newer analyses, with "Copy table", "Save plot", "Export all" and
// "View outp.". One window per tab, shown again after every run.
#pragma once

#include "oruk/core/resultcharts.hpp"
#include "oruk/core/runorchestrator.hpp"

#include <QDialog>

class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableView;

namespace oruk {

class TableModel;

class ResultsWindow : public QDialog {
    Q_OBJECT

  public:
    explicit ResultsWindow(Estimator estimator, QWidget* parent = nullptr);

    // Shows the outcome of a run, replacing what was shown.
    void showOutcome(const RunOutcome& outcome);

    // The table of the page on view as put on the clipboard.
    QString currentTableText() const;
    // Saves the plot on view; SVG for a ".svg" path, otherwise PNG at scale times the size on
    // screen. False after a message.
    bool savePlotTo(const QString& path, double scale = 2.0);
    // The file name offered for the plot on view ("survey-item-curves-q3-z1.png").
    QString suggestedPlotName() const;
    // Writes every plot (PNG) and every table (CSV) of the results into folder. Returns the
    // files written; empty after a message when one could not be written.
    QStringList exportAllTo(const QString& folder);
    // Writes the report of a run whose report could not be written to its output file. False
    // after a message.
    bool saveReportTo(const QString& path);

  signals:
    void viewRequested(const QString& path, bool input);

  private:
    struct PlotChoice {
        int kind = 0;
        int item = 0;
        int factor = 0;
    };
    void showPlot();
    void choosePlot();
    void copyTable();
    void askAndSavePlot();
    void askAndExportAll();
    void askAndSaveReport();
    bool showsEstimates() const;
    ChartData chartFor(const PlotChoice& choice) const;
    PlotChoice currentPlot() const;
    QString plotFileName(const PlotChoice& choice) const;
    const FitResults* shownResults() const;

    Estimator estimator_;
    RunOutcome outcome_;
    QLabel* status_ = nullptr;
    QLabel* warnings_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* plotsPage_ = nullptr;
    QTableView* summary_ = nullptr;
    QTableView* estimates_ = nullptr;
    QTableView* cases_ = nullptr;
    QTableView* itemFit_ = nullptr;
    QTableView* rotation_ = nullptr;
    QTableView* standardized_ = nullptr;
    QTableView* residuals_ = nullptr;
    QTableView* comparison_ = nullptr;
    QComboBox* plotKind_ = nullptr;
    QComboBox* plotItem_ = nullptr;
    QComboBox* plotFactor_ = nullptr;
    QChartView* plotChart_ = nullptr;
    QLabel* plotProblem_ = nullptr;
    QLabel* feedback_ = nullptr; // what the last button did ("Copied ...", "Saved ...")
    QPushButton* copyTable_ = nullptr;
    QPushButton* savePlot_ = nullptr;
    QPushButton* exportAll_ = nullptr;
    QPushButton* viewReport_ = nullptr;
    QPushButton* saveReport_ = nullptr;
};

} // namespace oruk
