#include "oruk/ui/mainwindow.hpp"

#include "oruk/core/editor.hpp"
#include "oruk/core/editorsetting.hpp"
#include "oruk/ui/aboutwindow.hpp"
#include "oruk/ui/estimatortab.hpp"
#include "oruk/ui/messages.hpp"
#include "oruk/ui/settingswindow.hpp"

#include <QActionGroup>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTabWidget>

namespace oruk {

namespace {

// Console output beyond this is cut in the message that shows it; the report has the rest.
constexpr qsizetype kShownConsoleOutput = 4000;

QString shortened(const QString& text) {
    if (text.size() <= kShownConsoleOutput) return text.trimmed();
    return text.left(kShownConsoleOutput).trimmed() + QStringLiteral("\n...");
}

} // namespace

void setAlwaysOnTop(QWidget* window, bool onTop) {
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) window->show(); // changing the flags hides a window
}

MainWindow::MainWindow(const Environment& environment, QWidget* parent)
    : QMainWindow(parent), runs_(environment.estimatorFolder, environment.workFolder) {
    setObjectName(QStringLiteral("frmOruk"));
    setWindowTitle(QStringLiteral("ORUK - Latent Model Interface ") + QStringLiteral(ORUK_VERSION));

    auto* tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("SSTab1"));
    traitTab_ = new EstimatorTab(Estimator::Trait);
    classTab_ = new EstimatorTab(Estimator::Class);
    tabs->addTab(traitTab_, QStringLiteral("Generalized Latent Model"));
    tabs->addTab(classTab_, QStringLiteral("Latent Class Model"));
    setCentralWidget(tabs);
    buildMenus();

    for (EstimatorTab* tab : {traitTab_, classTab_}) {
        connect(tab, &EstimatorTab::runRequested, this, &MainWindow::startRun);
        connect(tab, &EstimatorTab::viewRequested, this, &MainWindow::viewFile);
    }
    connect(&runs_, &RunOrchestrator::statusChanged, this,
            [this](Estimator estimator, const QString& text) { tab(estimator)->setStatus(text); });
    connect(&runs_, &RunOrchestrator::runningChanged, this, &MainWindow::runStateChanged);
    connect(&runs_, &RunOrchestrator::finished, this, &MainWindow::runFinished);

    setOnTop(true);
    editor_ = storedEditor().value_or(QString());
}

EstimatorTab* MainWindow::tab(Estimator estimator) const {
    return estimator == Estimator::Trait ? traitTab_ : classTab_;
}

void MainWindow::buildMenus() {
    QMenu* program = menuBar()->addMenu(QStringLiteral("&Program"));
    program->setObjectName(QStringLiteral("mnuProgram"));
    QAction* exit = program->addAction(QStringLiteral("&Exit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Settings"));
    settings->setObjectName(QStringLiteral("mnuSettings"));
    QAction* editor = settings->addAction(QStringLiteral("&Text Editor"));
    editor->setObjectName(QStringLiteral("mnuTextEditor"));
    connect(editor, &QAction::triggered, this, [this] {
        auto* window = new SettingsWindow(this);
        connect(window, &SettingsWindow::editorApplied, this,
                [this](const QString& editor) { editor_ = editor; });
        openChildWindow(window);
    });

    QMenu* appearance = menuBar()->addMenu(QStringLiteral("&Appearance"));
    appearance->setObjectName(QStringLiteral("mnuAppear"));
    auto* group = new QActionGroup(appearance);
    onTopAction_ = appearance->addAction(QStringLiteral("&On top"));
    onTopAction_->setObjectName(QStringLiteral("mnuOntop"));
    regularAction_ = appearance->addAction(QStringLiteral("&Regular"));
    regularAction_->setObjectName(QStringLiteral("mnuOftop"));
    for (QAction* action : {onTopAction_, regularAction_}) {
        action->setCheckable(true);
        group->addAction(action);
    }
    connect(onTopAction_, &QAction::triggered, this, [this] { setOnTop(true); });
    connect(regularAction_, &QAction::triggered, this, [this] { setOnTop(false); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("MnuHelp"));
    QAction* about = help->addAction(QStringLiteral("&About ORUK"));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, [this] { openChildWindow(new AboutWindow(this)); });
}

void MainWindow::setOnTop(bool onTop) {
    onTopAction_->setChecked(onTop);
    regularAction_->setChecked(!onTop);
    onTop_ = onTop;
    setAlwaysOnTop(this, onTop);
}

void MainWindow::openChildWindow(QDialog* window) {
    // The main window waits while the child is open. The child is a window of its own, so
    // only the main window's contents and menus are disabled, not the child with them.
    childWindow_ = window;
    centralWidget()->setEnabled(false);
    menuBar()->setEnabled(false);
    connect(window, &QDialog::finished, this, &MainWindow::childWindowClosed);
    setAlwaysOnTop(window, onTop_);
    window->show();
}

void MainWindow::childWindowClosed() {
    if (childWindow_) childWindow_->deleteLater();
    centralWidget()->setEnabled(true);
    menuBar()->setEnabled(true);
    setAlwaysOnTop(this, onTop_);
    activateWindow();
}

void MainWindow::startRun(Estimator estimator) {
    const EstimatorTab* source = tab(estimator);
    const RunRequest request{source->inputPath(), source->outputPath(), source->keepEstimates()};
    switch (runs_.start(estimator, request)) {
    case StartResult::Started:
    case StartResult::Busy:
        return;
    case StartResult::MissingPaths:
        showMessage(this, QMessageBox::Information, QStringLiteral("Error"),
                    QStringLiteral("You have to specify the input and output files"));
        return;
    case StartResult::WorkFolderNotCleared:
    case StartResult::DeckNotStaged:
        showMessage(this, QMessageBox::Warning, QStringLiteral("Error"), runs_.startProblem());
        return;
    }
}

void MainWindow::runStateChanged(bool running) {
    const Estimator current = runs_.currentEstimator();
    for (EstimatorTab* each : {traitTab_, classTab_}) {
        each->setRunInProgress(running, each->estimator() == current);
    }
}

void MainWindow::runFinished(const RunOutcome& outcome) {
    const QString name = profileOf(outcome.estimator).shownName;
    if (outcome.result == RunResult::Completed) {
        viewFile(outcome.outputPath, false);
        if (!outcome.problem.isEmpty()) {
            showMessage(this, QMessageBox::Warning, defaultMessageTitle(), outcome.problem);
        }
        if (!outcome.consoleOutput.trimmed().isEmpty()) {
            showMessage(this, QMessageBox::Information, defaultMessageTitle(),
                        name + QStringLiteral(" wrote on its console:\n\n") +
                            shortened(outcome.consoleOutput));
        }
        return;
    }
    QString text = outcome.problem;
    if (!outcome.consoleOutput.trimmed().isEmpty()) {
        text += QStringLiteral("\n\n") + name + QStringLiteral(" wrote on its console:\n\n") +
                shortened(outcome.consoleOutput);
    }
    showMessage(this, QMessageBox::Critical, QStringLiteral("Error"), text);
}

void MainWindow::viewFile(const QString& path, bool input) {
    const QString folder = path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
    switch (openInEditor(editor_, path, folder)) {
    case OpenResult::Started:
        return;
    case OpenResult::NoFile:
        showMessage(this, QMessageBox::NoIcon, defaultMessageTitle(),
                    QStringLiteral("File does not exist"));
        return;
    case OpenResult::NoEditor:
        showMessage(this, QMessageBox::Information, QStringLiteral("Error"),
                    input ? QStringLiteral("You have to specify a text editor before using this "
                                           "function (from the settings menu).")
                          : QStringLiteral("You have to specify a text editor before using this "
                                           "function (from settings menu)."));
        return;
    }
}

void MainWindow::placeOnScreen() {
    resize(sizeHint().expandedTo(QSize(600, 0)));
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize size = frameGeometry().size();
    const int left = static_cast<int>((area.width() - size.width()) / 1.15);
    const int top = static_cast<int>((area.height() - size.height()) / 7.0);
    move(area.x() + qMax(0, left), area.y() + qMax(0, top));
}

} // namespace oruk
