// The windows under the offscreen platform: captions, menus and the on-top mode, the settings
// and About windows, viewing files, summaries and runs started from a tab.
#include "oruk/core/editor.hpp"
#include "oruk/core/editorsetting.hpp"
#include "oruk/ui/estimatortab.hpp"
#include "oruk/ui/mainwindow.hpp"
#include "oruk/ui/messages.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace oruk;

namespace {

// Answers every message box that comes up while it lives, recording it as "title|text|icon":
// with Enter (its default button) or with the given button.
class ModalAnswerer : public QObject {
  public:
    explicit ModalAnswerer(QMessageBox::StandardButton button = QMessageBox::NoButton)
        : button_(button) {
        connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::answer);
        timer_.start(10);
    }
    QStringList seen;

  private:
    void answer() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen << QString("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon());
            if (button_ == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Return);
            else
                box->button(button_)->click();
        }
    }
    QMessageBox::StandardButton button_;
    QTimer timer_;
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString kInfo = QString::number(QMessageBox::Information);

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root_;
    std::unique_ptr<MainWindow> window_;

    QString path(const QString& name) const { return root_->filePath(name); }
    QWidget* find(const char* name, QObject* in = nullptr) const {
        return (in ? in : window_.get())->findChild<QWidget*>(name);
    }
    QString text(const char* name, QObject* in = nullptr) const {
        return qobject_cast<QLabel*>(find(name, in))->text();
    }
    void click(const char* name, QObject* in = nullptr) const {
        qobject_cast<QAbstractButton*>(find(name, in))->click();
    }
    void setPath(const char* box, const QString& value) const {
        qobject_cast<QLineEdit*>(find(box))->setText(value);
    }
    QAction* action(const char* name) const { return window_->findChild<QAction*>(name); }
    static bool onTop(QWidget* w) { return w->windowFlags().testFlag(Qt::WindowStaysOnTopHint); }
    void write(const QString& name, const QByteArray& text) const {
        QFile file(path(name));
        if (file.open(QIODevice::WriteOnly)) file.write(text);
    }
    void openWindow() {
        window_ = std::make_unique<MainWindow>(Environment{FAKE_ESTIMATOR_DIR, path("work")});
        window_->show();
    }
    // The editor stand-in writes the arguments it is started with into a file.
    QString useRecordingEditor() {
        storeEditor(quotedProgram(FAKE_EDITOR) + " record " + quotedProgram(path("args.txt")));
        openWindow();
        return path("args.txt");
    }

  private slots:
    void init() {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Oruk", "Oruk").clear();
        root_ = std::make_unique<QTemporaryDir>();
        QDir(root_->path()).mkpath("work");
        QDir(root_->path()).mkpath("my decks");
        openWindow();
    }
    void cleanup() {
        window_.reset();
        root_.reset();
    }

    void captionsAndToolTips() {
        QCOMPARE(window_->windowTitle(), QString("ORUK - Latent Model Interface 1.1.0"));
        auto* tabs = qobject_cast<QTabWidget*>(find("SSTab1"));
        QCOMPARE(tabs->tabText(0) + "|" + tabs->tabText(1),
                 QString("Generalized Latent Model|Latent Class Model"));
        for (const char* name :
             {"cmdTravikInput", "cmdTravikOutput", "cmdPlovenInput", "cmdPlovenOutput"}) {
            QCOMPARE(find(name)->toolTip(), QString("Click to select file"));
        }
        const QString tip = "See information on \"Li8.out\" in Travik user documentation. File is "
                            "saved into input folder.";
        QCOMPARE(find("chkTravikLi8")->toolTip(), tip);
        QCOMPARE(find("lblTravikLi8")->toolTip(), tip);
        QCOMPARE(text("lblTravikLi8"), QString("Preserve estimates from \"Li8.out\":"));
        QVERIFY(!find("chkTravikLi8", tabs->widget(1)));
    }

    void menuTicksAndTheOnTopMode() {
        QVERIFY(action("mnuOntop")->isChecked() && !action("mnuOftop")->isChecked());
        QVERIFY(onTop(window_.get()));
        for (int round = 0; round < 2; ++round) { // choosing Regular twice keeps one tick
            action("mnuOftop")->trigger();
            QVERIFY(!action("mnuOntop")->isChecked() && action("mnuOftop")->isChecked());
            QVERIFY(!onTop(window_.get()) && window_->isVisible());
        }
        // Child windows follow the mode and leave the main window in it.
        action("mnuAbout")->trigger();
        QWidget* about = find("frmAbout");
        QCOMPARE(about->windowTitle() + "|" + text("lblVersionNo", about),
                 QString("About ORUK|1.1.0"));
        QVERIFY(!onTop(about) && !window_->centralWidget()->isEnabled() &&
                !window_->menuBar()->isEnabled());
        click("cmdClose", about);
        QVERIFY(!onTop(window_.get()) && window_->centralWidget()->isEnabled() &&
                window_->menuBar()->isEnabled());

        action("mnuOntop")->trigger();
        QVERIFY(action("mnuOntop")->isChecked() && !action("mnuOftop")->isChecked());
        action("mnuTextEditor")->trigger();
        QTRY_VERIFY(window_->findChildren<QDialog*>().size() == 1);
        QVERIFY(onTop(find("frmSettings")));
        find("frmSettings")->close(); // the close box works like Close
        QVERIFY(onTop(window_.get()) && window_->centralWidget()->isEnabled());
    }

    void settingsApplyStoresTheEditor() {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Oruk", "Oruk");
        action("mnuTextEditor")->trigger();
        QWidget* dialog = find("frmSettings");
        QCOMPARE(dialog->windowTitle(), QString("ORUK Settings"));
        QCOMPARE(text("lblCurrentEditor"), QString("None specified"));
        qobject_cast<QLineEdit*>(find("txteditor"))->setText("kate -n");
        click("cmdapply");
        settings.sync();
        QCOMPARE(settings.value("Settings/Editor").toString(), QString("kate -n"));
        QCOMPARE(text("lblCurrentEditor") + "|" + window_->editor(), QString("kate -n|kate -n"));
        QVERIFY(dialog->isVisible()); // Apply leaves the window open

        // An empty box stores the empty text, and viewing then asks for an editor.
        qobject_cast<QLineEdit*>(find("txteditor"))->clear();
        click("cmdapply");
        settings.sync();
        QVERIFY(settings.contains("Settings/Editor") &&
                settings.value("Settings/Editor").toString().isEmpty());
        QVERIFY(window_->editor().isEmpty());
        click("cmdClose");
        QVERIFY(!dialog->isVisible() && window_->centralWidget()->isEnabled());
    }

    void viewingWithoutAnEditorSaysWhatIsMissing() {
        ModalAnswerer answerer;
        click("cmdViewTravikInput");
        setPath("Text1", path("deck.inp"));
        click("cmdViewTravikInput");
        setPath("Text4", "classes.out");
        click("cmdViewPlovenOutput");
        const QString ask = "Error|You have to specify a text editor before using this function "
                            "(from %1settings menu).|" +
                            kInfo;
        QCOMPARE(answerer.seen, (QStringList{defaultMessageTitle() + "|File does not exist|0",
                                             ask.arg("the "), ask.arg("")}));
    }

    void viewingHandsThePathToTheEditorWhole() {
        const QString record = useRecordingEditor();
        setPath("Text1", path("my decks/deck one.inp"));
        click("cmdViewTravikInput");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(record), path("my decks/deck one.inp").toUtf8() + "\n",
                                  60000);
        QFile::remove(record);
        setPath("Text2", "report one.out"); // relative to the input file's folder
        click("cmdViewTravikOutput");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(record), path("my decks/report one.out").toUtf8() + "\n",
                                  60000);
    }

    void summariesFollowTheDeck() {
        write("my decks/t.inp", "  Science\n25 3 2 0 1 16\n\n4\n2 0 50 1 0.0001 0\n");
        write("my decks/c.inp", "Reading\n120 3 8 0 0 0 0 0 0 0\n");
        ModalAnswerer answerer;
        window_->tab(Estimator::Trait)->setStatus("TRAVIK finished in 3 seconds");
        setPath("Text1", path("my decks/t.inp"));
        click("cmdReloadTravikData");
        setPath("Text3", path("my decks/c.inp"));
        click("cmdReloadPlovenData");
        const QString shown = "%1|%2|%3|%4|%5|%6|%7|%8";
        QCOMPARE(shown.arg(text("lblTitle"), text("lblCases"), text("lblItems"), text("lblFactors"),
                           text("lblPlovenTitle"), text("lblPlovenPatterns"),
                           text("lblPlovenItems"), text("LblPlovenClasses")),
                 QString("Science|25|6|2|Reading|120|8|3"));
        QVERIFY(text("lblTravikRunning").isEmpty());

        write("my decks/t.inp", "Broken\n10 x\n"); // changes nothing and says nothing
        click("cmdReloadTravikData");
        setPath("Text3", "");
        click("cmdReloadPlovenData");
        QCOMPARE(text("lblTitle"), QString("Science"));
        QCOMPARE(answerer.seen,
                 QStringList{"Error|There is no valid input file specified.|" + kInfo});
    }

    void runFromATabKeepsTheWindowUsable() {
        const QString record = useRecordingEditor();
        write("my decks/run.inp",
              "wait-for go\nwrite LI7.OUT the report\nwrite LI8.OUT estimates\n");
        setPath("Text1", path("my decks/run.inp"));
        setPath("Text2", "run.out");
        qobject_cast<QAbstractButton*>(find("chkTravikLi8"))->setChecked(true);
        click("cmdRunTravik");
        QVERIFY(text("lblTravikRunning")
                    .startsWith("TRAVIK running in background\nThis may take several minutes ..."));
        for (const char* name : {"cmdRunTravik", "cmdRunPloven", "cmdTravikInput",
                                 "cmdTravikOutput", "cmdPlovenInput", "cmdPlovenOutput"}) {
            QVERIFY2(!find(name)->isEnabled(), name);
        }
        action("mnuOftop")->trigger(); // the window still answers
        QVERIFY(action("mnuOftop")->isChecked());

        write("work/go", "");
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QFile::remove(path("work/go"));
        QVERIFY(text("lblTravikRunning").startsWith("TRAVIK finished in "));
        QCOMPARE(readFile(path("my decks/run.out")) + readFile(path("my decks/Li8.out")),
                 QByteArray("the report\nestimates\n"));
        QVERIFY(find("cmdRunPloven")->isEnabled() && find("cmdTravikInput")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(record), path("my decks/run.out").toUtf8() + "\n",
                                  60000);
    }

    void runWithoutPathsOrWithoutReportIsReported() {
        ModalAnswerer answerer;
        click("cmdRunPloven");
        QCOMPARE(answerer.seen,
                 QStringList{"Error|You have to specify the input and output files|" + kInfo});
        QVERIFY(!window_->runs().isRunning());

        write("my decks/silent.inp", "say no report today\n");
        setPath("Text3", path("my decks/silent.inp"));
        setPath("Text4", path("my decks/silent.out"));
        click("cmdRunPloven");
        QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), qsizetype(2), 60000);
        QVERIFY2(answerer.seen[1].contains("without writing its report \"Latc7.out\""),
                 qPrintable(answerer.seen[1]));
        QVERIFY(answerer.seen[1].contains("no report today") &&
                answerer.seen[1].startsWith("Error|"));
        QVERIFY(text("lblPlovenRunning").startsWith("PLOVEN run failed"));
        QVERIFY(!QFile::exists(path("my decks/silent.out")));
    }

    void startUpQuestionDefaultsToNo() {
        window_.reset();
        auto enter = std::make_unique<ModalAnswerer>();
        QVERIFY(!confirmStart(nullptr, "/home/ann/work"));
        QCOMPARE(enter->seen,
                 QStringList{
                     "ORUK: Read This First|This program will use the folder '/home/ann/work' to "
                     "manipulate files.\nDo not place any files into this folder by hand as they "
                     "may be DELETED.\nSee OrukReadMe.txt for further information.\nDo you want "
                     "to continue?|" +
                     QString::number(QMessageBox::Question)});
        QVERIFY(!confirmStart(nullptr, "/tmp"));
        reportAlreadyRunning(nullptr, "oruk");
        QCOMPARE(enter->seen.last(),
                 QString("Oruk|oruk already running|%1").arg(QMessageBox::Critical));
        enter.reset();
        ModalAnswerer yes(QMessageBox::Yes);
        QVERIFY(confirmStart(nullptr, "/tmp"));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
