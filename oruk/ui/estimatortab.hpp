// One tab of the main window: the deck and report paths of one estimator, the deck's summary,
// and the buttons that run the estimator and open its files.
#pragma once

#include "oruk/core/estimatorprofile.hpp"
#include "oruk/core/progress.hpp"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace oruk {

class EstimatorTab : public QWidget {
    Q_OBJECT

  public:
    explicit EstimatorTab(Estimator estimator, QWidget* parent = nullptr);

    Estimator estimator() const { return estimator_; }
    QString inputPath() const;
    QString outputPath() const;
    bool keepEstimates() const;
    // Accelerated EM for the tab's runs; a change is stored for later sessions.
    bool accelerate() const;
    void setAccelerate(bool accelerate);

    void setStatus(const QString& text);
    void setProgress(const RunProgress& progress);
    void setPaths(const QString& input, const QString& output);
    // While any run is in progress neither tab starts another one or changes its files.
    void setRunInProgress(bool anyRun, bool here);

    // Reads the deck summary again (the "Reload input" button).
    void reloadInput();
    // Reads the deck summary, keeping the status line.
    void showSummary();

  signals:
    void runRequested(oruk::Estimator estimator);
    void viewRequested(const QString& path, bool input);
    void cancelRequested();
    void csvRequested(oruk::Estimator estimator);

  private:
    void chooseInput();
    void chooseOutput();
    void clearSummary();
    void showTraitSummary();
    void showClassSummary();

    Estimator estimator_;
    bool runningHere_ = false;
    QLineEdit* input_ = nullptr;
    QLineEdit* output_ = nullptr;
    QPushButton* inputChooser_ = nullptr;
    QPushButton* outputChooser_ = nullptr;
    QPushButton* run_ = nullptr;
    QLabel* summaryValues_[4] = {};    // title and three counts
    QLabel* recordsCaption_ = nullptr; // "Cases:" or "Patterns:"
    QPushButton* openCsv_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QCheckBox* keepEstimates_ = nullptr;
    QCheckBox* accelerate_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace oruk
