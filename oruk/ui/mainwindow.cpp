#include "oruk/ui/mainwindow.hpp"

#include "latent/version.hpp"
#include "oruk/core/decksummary.hpp"
#include "oruk/core/editor.hpp"
#include "oruk/core/editorsetting.hpp"
#include "oruk/ui/aboutwindow.hpp"
#include "oruk/ui/csvimportdialog.hpp"
#include "oruk/ui/estimatortab.hpp"
#include "oruk/ui/filechooser.hpp"
#include "oruk/ui/messages.hpp"
#include "oruk/ui/resultswindow.hpp"
#include "oruk/ui/settingswindow.hpp"

#include <QActionGroup>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTabWidget>

namespace oruk {

void setAlwaysOnTop(QWidget* window, bool onTop) {
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) window->show(); // changing the flags hides a window
}

MainWindow::MainWindow(const Environment& environment, QWidget* parent)
    : QMainWindow(parent), runs_(environment.estimatorFolder, environment.workFolder) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("ORUK - Latent Model Interface ") +
                   QString::fromUtf8(latent::version()));

    auto* tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("estimatorTabs"));
    traitTab_ = new EstimatorTab(Estimator::Trait);
    classTab_ = new EstimatorTab(Estimator::Class);
    tabs->addTab(traitTab_, QStringLiteral("Generalized Latent Model"));
    tabs->addTab(classTab_, QStringLiteral("Latent Class Model"));
    setCentralWidget(tabs);
    buildMenus();

    for (EstimatorTab* tab : {traitTab_, classTab_}) {
        connect(tab, &EstimatorTab::runRequested, this, &MainWindow::startRun);
        connect(tab, &EstimatorTab::viewRequested, this, &MainWindow::viewFile);
        connect(tab, &EstimatorTab::cancelRequested, &runs_, &RunOrchestrator::cancel);
        connect(tab, &EstimatorTab::csvRequested, this, &MainWindow::chooseCsv);
    }
    connect(&runs_, &RunOrchestrator::statusChanged, this,
            [this](Estimator estimator, const QString& text) { tab(estimator)->setStatus(text); });
    connect(&runs_, &RunOrchestrator::progressChanged, this,
            [this](Estimator estimator, const RunProgress& p) { tab(estimator)->setProgress(p); });
    connect(&runs_, &RunOrchestrator::runningChanged, this, &MainWindow::runStateChanged);
    connect(&runs_, &RunOrchestrator::finished, this, &MainWindow::runFinished);

    setOnTop(true);
    editor_ = storedEditor().value_or(QString());
    urlOpener_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

ResultsWindow* MainWindow::results(Estimator estimator) const {
    return results_[estimator == Estimator::Trait ? 0 : 1];
}

EstimatorTab* MainWindow::tab(Estimator estimator) const {
    return estimator == Estimator::Trait ? traitTab_ : classTab_;
}

void MainWindow::buildMenus() {
    QMenu* program = menuBar()->addMenu(QStringLiteral("&Program"));
    program->setObjectName(QStringLiteral("programMenu"));
    QAction* exit = program->addAction(QStringLiteral("&Exit"));
    exit->setObjectName(QStringLiteral("exitAction"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Settings"));
    settings->setObjectName(QStringLiteral("settingsMenu"));
    QAction* editor = settings->addAction(QStringLiteral("&Text Editor"));
    editor->setObjectName(QStringLiteral("textEditorAction"));
    connect(editor, &QAction::triggered, this, [this] {
        auto* window = new SettingsWindow(this);
        connect(window, &SettingsWindow::editorApplied, this,
                [this](const QString& chosen) { editor_ = chosen; });
        openChildWindow(window);
    });

    QMenu* appearance = menuBar()->addMenu(QStringLiteral("&Appearance"));
    appearance->setObjectName(QStringLiteral("appearanceMenu"));
    auto* group = new QActionGroup(appearance);
    onTopAction_ = appearance->addAction(QStringLiteral("&On top"));
    onTopAction_->setObjectName(QStringLiteral("onTopAction"));
    regularAction_ = appearance->addAction(QStringLiteral("&Regular"));
    regularAction_->setObjectName(QStringLiteral("regularWindowAction"));
    for (QAction* action : {onTopAction_, regularAction_}) {
        action->setCheckable(true);
        group->addAction(action);
    }
    connect(onTopAction_, &QAction::triggered, this, [this] { setOnTop(true); });
    connect(regularAction_, &QAction::triggered, this, [this] { setOnTop(false); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    QAction* about = help->addAction(QStringLiteral("&About ORUK"));
    about->setObjectName(QStringLiteral("aboutAction"));
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

void MainWindow::start(Estimator estimator, const RunRequest& request) {
    switch (runs_.start(estimator, request)) {
    case StartResult::Started:
    case StartResult::Busy:
        return;
    case StartResult::MissingPaths:
        showMessage(this, QMessageBox::Critical, QStringLiteral("Error"),
                    QStringLiteral("You have to specify the input and output files"));
        return;
    case StartResult::WorkFolderNotCleared:
    case StartResult::InputNotFound:
        showMessage(this, QMessageBox::Critical, QStringLiteral("Error"), runs_.startProblem());
        return;
    }
}

void MainWindow::startRun(Estimator estimator) {
    const EstimatorTab* source = tab(estimator);
    if (!source->deckRunnable()) return; // the other estimator's deck; the tab says so
    RunRequest request{source->inputPath(), source->outputPath(), source->keepEstimates()};
    request.accelerate = source->accelerate();
    // Two-factor solutions are shown rotated to simple structure, beside the fitted ones.
    if (estimator == Estimator::Trait) request.rotation = QStringLiteral("oblimin");
    // Read now: the deck may have changed since its summary was shown.
    request.maxCycles = deckMaxCycles(estimator, request.inputPath);
    start(estimator, request);
}

void MainWindow::runStateChanged(bool running) {
    const Estimator current = runs_.currentEstimator();
    for (EstimatorTab* each : {traitTab_, classTab_}) {
        each->setRunInProgress(running, each->estimator() == current);
    }
}

void MainWindow::runFinished(const RunOutcome& outcome) {
    // Every run ends in its results window, successful or not; the report stays one click away.
    QPointer<ResultsWindow>& window = results_[outcome.estimator == Estimator::Trait ? 0 : 1];
    if (!window) {
        window = new ResultsWindow(outcome.estimator, this);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        connect(window, &ResultsWindow::viewRequested, this, &MainWindow::viewFile);
    }
    if (!outcome.keptDeck.isEmpty()) {
        // The deck made from the CSV file becomes the tab's deck: it can be viewed and rerun.
        tab(outcome.estimator)->setPaths(outcome.keptDeck, outcome.outputPath);
    }
    window->showOutcome(outcome);
    setAlwaysOnTop(window, onTop_);
    window->show();
    window->raise();
}

void MainWindow::chooseCsv(Estimator estimator) {
    if (const auto path = chooseCsvFile(this, tab(estimator)->inputPath()))
        openCsv(estimator, *path);
}

bool MainWindow::openCsv(Estimator estimator, const QString& path) {
    const CsvHeader header = readCsvHeader(path);
    if (!header.problem.isEmpty()) {
        showMessage(this, QMessageBox::Critical, QStringLiteral("Open CSV"), header.problem);
        return false;
    }
    CsvImportChoice initial = defaultChoice(estimator, path, header.names);
    initial.accelerate = tab(estimator)->accelerate();
    // Each column starts from the type its values suggest.
    for (std::size_t c = 0; c < initial.roles.size() && c < header.guessedRoles.size(); ++c)
        initial.roles[c] = roleFor(estimator, header.guessedRoles[c]);
    CsvImportDialog dialog(estimator, initial, header.preview, this);
    setAlwaysOnTop(&dialog, onTop_);
    if (dialog.exec() != QDialog::Accepted) return false;
    // One choice per estimator: what the dialog ran with becomes the tab's.
    tab(estimator)->setAccelerate(dialog.choice().accelerate);
    runCsv(estimator, dialog.choice());
    return true;
}

void MainWindow::runCsv(Estimator estimator, const CsvImportChoice& choice) {
    const EstimatorTab* source = tab(estimator);
    // The tab's fields keep their deck until the run delivers the deck made from the file
    // (runFinished), so a failed run leaves no CSV file where a deck belongs.
    const QString output = csvReportPath(choice.csvPath);
    RunRequest request{choice.csvPath, output, source->keepEstimates()};
    request.csvArguments = csvArguments(estimator, choice);
    request.accelerate = choice.accelerate;
    request.maxCycles = choice.maxCycles;
    start(estimator, request);
}

void MainWindow::viewFile(const QString& path, bool input) {
    const QString folder = path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
    if (!path.isEmpty() && editor_.trimmed().isEmpty()) {
        // No editor set: the desktop's application for the file.
        if (!QFileInfo(path).isFile()) {
            showMessage(this, QMessageBox::Critical, defaultMessageTitle(),
                        QStringLiteral("File does not exist"));
        } else if (!urlOpener_(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()))) {
            showMessage(this, QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("No application opens \"%1\" on this desktop. Choose a "
                                       "text editor in the settings menu.")
                            .arg(QDir::toNativeSeparators(path)));
        }
        return;
    }
    switch (openInEditor(editor_, path, folder)) {
    case OpenResult::Started:
        return;
    case OpenResult::NoFile:
        showMessage(this, QMessageBox::Critical, defaultMessageTitle(),
                    QStringLiteral("File does not exist"));
        return;
    case OpenResult::NoEditor:
        showMessage(this, QMessageBox::Critical, QStringLiteral("Error"),
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
