// The main window: one tab per estimator, the menus, and the settings and About windows.
#pragma once

#include "oruk/core/csvimport.hpp"
#include "oruk/core/estimatorprofile.hpp"
#include "oruk/core/runorchestrator.hpp"

#include <QMainWindow>
#include <QPointer>
#include <QUrl>

#include <functional>

class QAction;
class QDialog;

namespace oruk {

class EstimatorTab;
class ResultsWindow;

struct Environment {
    QString estimatorFolder; // where travik and ploven are
    QString workFolder;      // where they run
};

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(const Environment& environment, QWidget* parent = nullptr);

    EstimatorTab* tab(Estimator estimator) const;
    RunOrchestrator& runs() { return runs_; }
    QString editor() const { return editor_; }
    bool onTop() const { return onTop_; }

    // Sizes the window and puts it right of the screen's centre, towards the top.
    void placeOnScreen();

    // The results window of a tab; empty before its first run.
    ResultsWindow* results(Estimator estimator) const;

    // Reads the header of the CSV file at path and asks for the types and options; Run then
    // starts the estimator on the file. False when the file gave no header (after a message)
    // or the user cancelled.
    bool openCsv(Estimator estimator, const QString& path);
    // Starts a run on a CSV file as chosen.
    void runCsv(Estimator estimator, const CsvImportChoice& choice);

    // How a file is handed to the desktop when no editor is set; QDesktopServices::openUrl
    // unless replaced.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { urlOpener_ = std::move(opener); }

  private:
    void buildMenus();
    void setOnTop(bool onTop);
    void openChildWindow(QDialog* window);
    void childWindowClosed();
    // Starts a run, or says why it could not start.
    void start(Estimator estimator, const RunRequest& request);
    void startRun(Estimator estimator);
    void runStateChanged(bool running);
    void runFinished(const RunOutcome& outcome);
    void viewFile(const QString& path, bool input);
    void chooseCsv(Estimator estimator);

    RunOrchestrator runs_;
    QString editor_;
    bool onTop_ = true;
    EstimatorTab* traitTab_ = nullptr;
    EstimatorTab* classTab_ = nullptr;
    QAction* onTopAction_ = nullptr;
    QAction* regularAction_ = nullptr;
    QPointer<QDialog> childWindow_;
    QPointer<ResultsWindow> results_[2];
    std::function<bool(const QUrl&)> urlOpener_;
};

// Sets or clears the stays-on-top flag of a window, keeping it shown when it was.
void setAlwaysOnTop(QWidget* window, bool onTop);

} // namespace oruk
