// The main window: one tab per estimator, the menus, and the settings and About windows.
#pragma once

#include "oruk/core/estimatorprofile.hpp"
#include "oruk/core/runorchestrator.hpp"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QDialog;

namespace oruk {

class EstimatorTab;

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

  private:
    void buildMenus();
    void setOnTop(bool onTop);
    void openChildWindow(QDialog* window);
    void childWindowClosed();
    void startRun(Estimator estimator);
    void runStateChanged(bool running);
    void runFinished(const RunOutcome& outcome);
    void viewFile(const QString& path, bool input);

    RunOrchestrator runs_;
    QString editor_;
    bool onTop_ = true;
    EstimatorTab* traitTab_ = nullptr;
    EstimatorTab* classTab_ = nullptr;
    QAction* onTopAction_ = nullptr;
    QAction* regularAction_ = nullptr;
    QPointer<QDialog> childWindow_;
};

// Sets or clears the stays-on-top flag of a window, keeping it shown when it was.
void setAlwaysOnTop(QWidget* window, bool onTop);

} // namespace oruk
