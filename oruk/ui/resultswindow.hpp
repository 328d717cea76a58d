// The results of a run: how it ended, the fit summary, the estimates, plots and the per-case
// results, with "Copy table", "Save plot" and "View outp.". One window per tab, shown again
// after every run.
#pragma once

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

    // The table of the page on view (summary, estimates or cases) as put on the clipboard.
    QString currentTableText() const;
    // Saves the plot on view; SVG for a ".svg" path, otherwise PNG. False after a message.
    bool savePlotTo(const QString& path);
    // Writes the report of a run whose report could not be written to its output file. False
    // after a message.
    bool saveReportTo(const QString& path);

  signals:
    void viewRequested(const QString& path, bool input);

  private:
    void showPlot();
    void choosePlot();
    void copyTable();
    void askAndSavePlot();
    void askAndSaveReport();
    bool showsEstimates() const;

    Estimator estimator_;
    RunOutcome outcome_;
    QLabel* status_ = nullptr;
    QLabel* warnings_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QTableView* summary_ = nullptr;
    QTableView* estimates_ = nullptr;
    QTableView* cases_ = nullptr;
    QTableView* itemFit_ = nullptr;
    QTableView* rotation_ = nullptr;
    QComboBox* plotKind_ = nullptr;
    QComboBox* plotItem_ = nullptr;
    QComboBox* plotFactor_ = nullptr;
    QChartView* plotChart_ = nullptr;
    QLabel* plotProblem_ = nullptr;
    QPushButton* copyTable_ = nullptr;
    QPushButton* savePlot_ = nullptr;
    QPushButton* viewReport_ = nullptr;
    QPushButton* saveReport_ = nullptr;
};

} // namespace oruk
