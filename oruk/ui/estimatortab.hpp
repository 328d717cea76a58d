// One tab of the main window: the deck and report paths of one estimator, the deck's summary,
// and the buttons that run the estimator and open its files.
#pragma once

#include "oruk/core/decksummary.hpp"
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

    // Reads the deck summary again (the "Reload input" button), with a message when the deck
    // does not read.
    void reloadInput();
    // Reads the summary of the deck in the Input File field, keeping the status line. It
    // follows the field: every change of its text reads it again, without messages; what does
    // not read clears the values and says why under them.
    void showSummary();
    // Whether the deck in the field may be run here: not the other estimator's deck.
    bool deckRunnable() const { return deckRunnable_; }

  signals:
    void runRequested(oruk::Estimator estimator);
    void viewRequested(const QString& path, bool input);
    void cancelRequested();
    void csvRequested(oruk::Estimator estimator);

  private:
    struct DeckState {
        DeckAccess access = DeckAccess::InvalidPath;
        QString problem;
    };
    void chooseInput();
    void chooseOutput();
    void clearSummary();
    DeckState showTraitSummary();
    DeckState showClassSummary();
    DeckState readSummary();
    void updateRunButton();

    Estimator estimator_;
    bool runningHere_ = false;
    bool anyRun_ = false;
    bool deckRunnable_ = true;
    QLabel* deckProblem_ = nullptr; // why the deck in the field shows no summary
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
