// The windows under the offscreen platform: captions, menus and the on-top mode, the settings
// and About windows, viewing files, summaries, the accelerated-EM choice of each tab, runs
// started from a tab or a CSV file, cancel, and the results window with its tables and plots.
#include "oruk/core/classcomparison.hpp"
#include "oruk/core/editor.hpp"
#include "oruk/core/editorsetting.hpp"
#include "oruk/core/results.hpp"
#include "oruk/ui/estimatortab.hpp"
#include "oruk/ui/mainwindow.hpp"
#include "oruk/ui/messages.hpp"
#include "oruk/ui/resultswindow.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QMenuBar>
#include <QProgressBar>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
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

// Every message that reports an error carries the error icon.
const QString kError = QString::number(QMessageBox::Critical);

// Two classes' values as a results file lists them, without standard errors.
QByteArray classValues(double first, double second) {
    return QString("{\"key\": \"class_1\", \"estimate\": %1, \"standard_error\": null}, "
                   "{\"key\": \"class_2\", \"estimate\": %2, \"standard_error\": null}")
        .arg(first)
        .arg(second)
        .toUtf8();
}

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
    QCheckBox* checkBox(const char* name, QObject* in = nullptr) const {
        return qobject_cast<QCheckBox*>(find(name, in));
    }
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
        auto* tabs = qobject_cast<QTabWidget*>(find("estimatorTabs"));
        QCOMPARE(tabs->tabText(0) + "|" + tabs->tabText(1),
                 QString("Generalized Latent Model|Latent Class Model"));
        for (const char* name : {"chooseTravikInputButton", "chooseTravikOutputButton",
                                 "choosePlovenInputButton", "choosePlovenOutputButton"}) {
            QCOMPARE(find(name)->toolTip(), QString("Click to select file"));
        }
        const QString tip = "See information on \"Li8.out\" in Travik user documentation. File is "
                            "saved into input folder.";
        QCOMPARE(find("keepEstimatesCheck")->toolTip(), tip);
        QCOMPARE(find("keepEstimatesLabel")->toolTip(), tip);
        QCOMPARE(text("keepEstimatesLabel"), QString("Preserve estimates from \"Li8.out\":"));
        QVERIFY(!find("keepEstimatesCheck", tabs->widget(1)));
    }

    void menuTicksAndTheOnTopMode() {
        QVERIFY(action("onTopAction")->isChecked() && !action("regularWindowAction")->isChecked());
        QVERIFY(onTop(window_.get()));
        for (int round = 0; round < 2; ++round) { // choosing Regular twice keeps one tick
            action("regularWindowAction")->trigger();
            QVERIFY(!action("onTopAction")->isChecked() &&
                    action("regularWindowAction")->isChecked());
            QVERIFY(!onTop(window_.get()) && window_->isVisible());
        }
        // Child windows follow the mode and leave the main window in it.
        action("aboutAction")->trigger();
        QWidget* about = find("aboutWindow");
        QCOMPARE(about->windowTitle() + "|" + text("versionLabel", about),
                 QString("About ORUK|1.1.0"));
        QVERIFY(!onTop(about) && !window_->centralWidget()->isEnabled() &&
                !window_->menuBar()->isEnabled());
        click("closeAboutButton", about);
        QVERIFY(!onTop(window_.get()) && window_->centralWidget()->isEnabled() &&
                window_->menuBar()->isEnabled());

        action("onTopAction")->trigger();
        QVERIFY(action("onTopAction")->isChecked() && !action("regularWindowAction")->isChecked());
        action("textEditorAction")->trigger();
        QTRY_VERIFY(window_->findChildren<QDialog*>().size() == 1);
        QVERIFY(onTop(find("settingsWindow")));
        find("settingsWindow")->close(); // the close box works like Close
        QVERIFY(onTop(window_.get()) && window_->centralWidget()->isEnabled());
    }

    void settingsApplyStoresTheEditor() {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Oruk", "Oruk");
        action("textEditorAction")->trigger();
        QWidget* dialog = find("settingsWindow");
        QCOMPARE(dialog->windowTitle(), QString("ORUK Settings"));
        QCOMPARE(text("currentEditorLabel"), QString("None specified"));
        qobject_cast<QLineEdit*>(find("editorCommandEdit"))->setText("kate -n");
        click("applyEditorButton");
        settings.sync();
        QCOMPARE(settings.value("Settings/Editor").toString(), QString("kate -n"));
        QCOMPARE(text("currentEditorLabel") + "|" + window_->editor(), QString("kate -n|kate -n"));
        QVERIFY(dialog->isVisible()); // Apply leaves the window open

        // An empty box stores the empty text, and viewing then asks for an editor.
        qobject_cast<QLineEdit*>(find("editorCommandEdit"))->clear();
        click("applyEditorButton");
        settings.sync();
        QVERIFY(settings.contains("Settings/Editor") &&
                settings.value("Settings/Editor").toString().isEmpty());
        QVERIFY(window_->editor().isEmpty());
        click("closeSettingsButton");
        QVERIFY(!dialog->isVisible() && window_->centralWidget()->isEnabled());
    }

    void acceleratedEmIsOnByDefaultAndRemembered() {
        for (const char* name : {"travikAccelerateCheck", "plovenAccelerateCheck"})
            QVERIFY2(checkBox(name)->isChecked() &&
                         checkBox(name)->toolTip().contains("plain EM, one ordinary step"),
                     name);
        checkBox("travikAccelerateCheck")->setChecked(false);
        QCOMPARE(QSettings(QSettings::NativeFormat, QSettings::UserScope, "Oruk", "Oruk")
                     .value("Settings/TravikAccelerate"),
                 QVariant(false));
        openWindow(); // the next session
        QVERIFY(!checkBox("travikAccelerateCheck")->isChecked());
        QVERIFY(checkBox("plovenAccelerateCheck")->isChecked());
        // Unticked, a deck run is plain EM: nothing asks for acceleration.
        write("my decks/run.inp", "arguments args.txt\nwrite LI7.OUT r\n");
        setPath("travikInputEdit", path("my decks/run.inp"));
        setPath("travikOutputEdit", "run.out");
        click("runTravikButton");
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QVERIFY(readFile(path("work/args.txt")).contains("\n-o\n"));
        QVERIFY(!readFile(path("work/args.txt")).contains("accelerate"));
    }

    void csvDialogStartsFromAndSetsTheTabsChoice() {
        // A CSV file the stand-in reads as its script, skipping the header.
        write("my decks/a.csv", "q1,q2\nwrite LATC7.OUT r,0\n");
        checkBox("plovenAccelerateCheck")->setChecked(false);
        bool shown = true;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog) return;
            shown = checkBox("csvAccelerateCheck", dialog)->isChecked();
            click("setEveryColumnButton", dialog);
            checkBox("csvAccelerateCheck", dialog)->setChecked(true);
            click("runCsvButton", dialog);
        });
        QVERIFY(window_->openCsv(Estimator::Class, path("my decks/a.csv")));
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QVERIFY(!shown && checkBox("plovenAccelerateCheck")->isChecked());
    }

    void withoutAnEditorTheDesktopOpensTheFile() {
        ModalAnswerer answerer;
        QList<QUrl> opened;
        bool desktopOpens = true;
        window_->setUrlOpener([&](const QUrl& url) {
            opened << url;
            return desktopOpens;
        });
        click("viewTravikInputButton"); // no path at all
        write("my decks/deck one.inp", "deck");
        setPath("travikInputEdit", path("my decks/deck one.inp"));
        click("viewTravikInputButton");
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(path("my decks/deck one.inp"))});
        setPath("plovenOutputEdit", "classes.out"); // not written yet
        click("viewPlovenOutputButton");
        desktopOpens = false;
        click("viewTravikInputButton");
        QCOMPARE(opened.size(), 2);
        QCOMPARE(
            answerer.seen,
            (QStringList{defaultMessageTitle() + "|File does not exist|" + kError,
                         defaultMessageTitle() + "|File does not exist|" + kError,
                         "Error|No application opens \"" + path("my decks/deck one.inp") +
                             "\" on this desktop. Choose a text editor in the settings menu.|" +
                             kError}));
    }

    void anEditorThatCannotStartSaysSo() {
        storeEditor("/no/such/editor");
        openWindow();
        ModalAnswerer answerer;
        setPath("travikInputEdit", path("deck.inp"));
        click("viewTravikInputButton");
        QCOMPARE(answerer.seen, QStringList{"Error|You have to specify a text editor before using "
                                            "this function (from the settings menu).|" +
                                            kError});
    }

    void viewingHandsThePathToTheEditorWhole() {
        const QString record = useRecordingEditor();
        setPath("travikInputEdit", path("my decks/deck one.inp"));
        click("viewTravikInputButton");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(record), path("my decks/deck one.inp").toUtf8() + "\n",
                                  60000);
        QFile::remove(record);
        setPath("travikOutputEdit", "report one.out"); // relative to the input file's folder
        click("viewTravikOutputButton");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(record), path("my decks/report one.out").toUtf8() + "\n",
                                  60000);
    }

    void summariesFollowTheDeck() {
        write("my decks/t.inp", "  Science\n25 3 2 0 1 16\n\n4\n2 0 50 1 0.0001 0\n");
        write("my decks/c.inp", "Reading\n120 3 8 0 0 0 0 0 0 0\n1e-4 100 0\n");
        ModalAnswerer answerer;
        window_->tab(Estimator::Trait)->setStatus("TRAVIK finished in 3 seconds");
        setPath("travikInputEdit", path("my decks/t.inp"));
        click("reloadTravikInputButton");
        setPath("plovenInputEdit", path("my decks/c.inp"));
        click("reloadPlovenInputButton");
        const QString shown = "%1|%2|%3|%4|%5|%6|%7|%8";
        QCOMPARE(shown.arg(text("travikTitleLabel"), text("travikCasesLabel"),
                           text("travikItemsLabel"), text("travikFactorsLabel"),
                           text("plovenTitleLabel"), text("plovenRecordsLabel"),
                           text("plovenItemsLabel"), text("plovenClassesLabel")),
                 QString("Science|25|6|2|Reading|120|8|3"));
        QVERIFY(text("travikStatusLabel").isEmpty());

        QCOMPARE(text("plovenRecordsCaptionLabel"), QString("Cases:"));
        write("my decks/p.inp", "Patterns\n6 2 5 1 0 0 0 1 0 0\n0.000001 500 0\n");
        setPath("plovenInputEdit", path("my decks/p.inp"));
        click("reloadPlovenInputButton");
        QCOMPARE(text("plovenRecordsCaptionLabel"), QString("Patterns:"));

        write("my decks/t.inp", "Broken\n10 x\n"); // no stale values: cleared, and why
        click("reloadTravikInputButton");
        setPath("plovenInputEdit", "");
        click("reloadPlovenInputButton");
        QVERIFY(text("travikTitleLabel").isEmpty() && text("travikCasesLabel").isEmpty());
        QVERIFY(text("travikDeckProblemLabel").startsWith("t.inp does not read"));
        // The trait deck in the class tab: a message, and no numbers that mean something else.
        setPath("plovenInputEdit", path("my decks/c.inp"));
        click("reloadPlovenInputButton");
        write("my decks/t2.inp", "Science\n25 3 2 0 1 16\n\n4\n2 0 50 1 0.0001 0\n");
        setPath("plovenInputEdit", path("my decks/t2.inp"));
        click("reloadPlovenInputButton");
        QVERIFY(text("plovenClassesLabel").isEmpty() && text("plovenItemsLabel").isEmpty());
        QCOMPARE(answerer.seen.size(), qsizetype(3));
        QCOMPARE(answerer.seen[0], "Error|t.inp does not read as a latent trait deck: line 2: "
                                   "the file ends after 2 of 6 values of the counts record.|" +
                                       kError);
        QCOMPARE(answerer.seen[1], "Error|There is no valid input file specified.|" + kError);
        QVERIFY2(answerer.seen[2].startsWith("Error|t2.inp looks like a latent trait deck"),
                 qPrintable(answerer.seen[2]));
    }

    void summaryFollowsTheFieldAndTheOtherTabsDeckCannotRun() {
        write("my decks/t.inp", "  Science\n25 3 2 0 1 16\n\n4\n2 0 50 1 0.0001 0\n");
        write("my decks/c.inp", "Reading\n120 3 8 0 0 0 0 0 0 0\n1e-4 100 0\n");
        ModalAnswerer answerer;
        auto* edit = qobject_cast<QLineEdit*>(find("travikInputEdit"));
        edit->setFocus();
        QTest::keyClicks(edit, path("my decks/t.inp")); // typed
        QCOMPARE(text("travikTitleLabel") + "|" + text("travikCasesLabel"), QString("Science|25"));
        QVERIFY(!find("travikDeckProblemLabel")->isVisibleTo(window_.get()));
        QTest::keyClick(edit, Qt::Key_Backspace); // "t.in": no such deck, nothing stale
        QVERIFY(text("travikTitleLabel").isEmpty() && text("travikFactorsLabel").isEmpty());
        QVERIFY(find("travikDeckProblemLabel")->isVisibleTo(window_.get()));
        QVERIFY(find("runTravikButton")->isEnabled()); // the run itself says what is wrong

        // The class deck pasted into the trait tab: no values, and it cannot run here.
        QApplication::clipboard()->setText(path("my decks/c.inp"));
        edit->selectAll();
        edit->paste();
        QVERIFY(text("travikTitleLabel").isEmpty());
        QVERIFY2(text("travikDeckProblemLabel").contains("looks like a latent class deck"),
                 qPrintable(text("travikDeckProblemLabel")));
        QVERIFY(!find("runTravikButton")->isEnabled());
        QCOMPARE(find("runTravikButton")->toolTip(), text("travikDeckProblemLabel"));
        // A run ending elsewhere does not enable it again.
        window_->tab(Estimator::Trait)->setRunInProgress(true, false);
        window_->tab(Estimator::Trait)->setRunInProgress(false, false);
        QVERIFY(!find("runTravikButton")->isEnabled());
        setPath("travikInputEdit", path("my decks/t.inp")); // chosen
        QVERIFY(find("runTravikButton")->isEnabled() && text("travikTitleLabel") == "Science");
        QVERIFY(find("runTravikButton")->toolTip().isEmpty());
        QVERIFY(answerer.seen.isEmpty()); // following the field asks nothing
    }

    void enterStartsTheFocusedRun() {
        write("my decks/run.inp", "write LI7.OUT r\n");
        setPath("travikInputEdit", path("my decks/run.inp"));
        setPath("travikOutputEdit", "run.out");
        QWidget* run = find("runTravikButton");
        run->setFocus();
        QTest::keyClick(run, Qt::Key_Return);
        QVERIFY(window_->runs().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QCOMPARE(readFile(path("my decks/run.out")), QByteArray("r\n"));
    }

    void failedCsvRunKeepsTheTabsDeck() {
        write("my decks/answers.csv", "q1,q2\nsay no data\nexit 2\n");
        write("my decks/study.inp", "Reading\n120 3 8 0 0 0 0 0 0 0\n1e-4 100 0\n");
        setPath("plovenInputEdit", path("my decks/study.inp"));
        setPath("plovenOutputEdit", "study.out");
        CsvImportChoice choice =
            defaultChoice(Estimator::Class, path("my decks/answers.csv"), {"q1", "q2"});
        choice.roles = {ColumnRole::Binary, ColumnRole::Binary};
        window_->runCsv(Estimator::Class, choice);
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QVERIFY(text("plovenStatusLabel").startsWith("PLOVEN run failed"));
        QCOMPARE(qobject_cast<QLineEdit*>(find("plovenInputEdit"))->text() + "|" +
                     qobject_cast<QLineEdit*>(find("plovenOutputEdit"))->text() + "|" +
                     text("plovenTitleLabel"),
                 path("my decks/study.inp") + "|study.out|Reading");
    }

    void runFromATabKeepsTheWindowUsable() {
        const QString record = useRecordingEditor();
        // A deck the summary reads (MAXIT 20) whose lines the stand-in passes over.
        write("my decks/run.inp",
              "Title\n8 3 0 0 0 8\n\n\n1 0 20 1 0.0001 0\n"
              "append fort.2     4   -0.00100    -1501.50000\n"
              "wait-for go\nwrite LI7.OUT the report\nwrite LI8.OUT estimates\n"
              "write travik.json {\"schema_version\": 1, \"status\": \"converged\", "
              "\"program\": \"travik\"}\n");
        setPath("travikInputEdit", path("my decks/run.inp"));
        setPath("travikOutputEdit", "run.out");
        qobject_cast<QAbstractButton*>(find("keepEstimatesCheck"))->setChecked(true);
        click("runTravikButton");
        QVERIFY(text("travikStatusLabel")
                    .startsWith("TRAVIK running in background\nThis may take several minutes ..."));
        for (const char* name :
             {"runTravikButton", "runPlovenButton", "chooseTravikInputButton",
              "chooseTravikOutputButton", "choosePlovenInputButton", "choosePlovenOutputButton",
              "openTravikCsvButton", "openPlovenCsvButton", "cancelPlovenButton"}) {
            QVERIFY2(!find(name)->isEnabled(), name);
        }
        QVERIFY(find("cancelTravikButton")->isEnabled() && find("travikProgressBar")->isVisible());
        QVERIFY(!find("travikAccelerateCheck")->isEnabled()); // the run goes on as it started
        QTRY_VERIFY_WITH_TIMEOUT(
            text("travikStatusLabel").endsWith("\nCycle 4 of 20, loglikelihood -1501.50000"),
            60000);
        auto* bar = qobject_cast<QProgressBar*>(find("travikProgressBar"));
        QCOMPARE(QString("%1 of %2").arg(bar->value()).arg(bar->maximum()), QString("4 of 20"));
        action("regularWindowAction")->trigger(); // the window still answers
        QVERIFY(action("regularWindowAction")->isChecked());

        write("work/go", "");
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QFile::remove(path("work/go"));
        QVERIFY(text("travikStatusLabel").startsWith("TRAVIK finished in "));
        QCOMPARE(readFile(path("my decks/run.out")) + readFile(path("my decks/LI8.OUT")),
                 QByteArray("the report\nestimates\n"));
        QVERIFY(find("runPlovenButton")->isEnabled() &&
                find("chooseTravikInputButton")->isEnabled());
        QVERIFY(!find("cancelTravikButton")->isEnabled() &&
                !find("travikProgressBar")->isVisible());
        // The results window opens; the report stays one click away.
        ResultsWindow* results = window_->results(Estimator::Trait);
        QVERIFY(results && results->isVisible());
        QVERIFY(text("resultStatusLabel", results).startsWith("<b>TRAVIK: Converged</b>"));
        QVERIFY(!QFile::exists(record));
        click("viewResultsReportButton", results);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(record), path("my decks/run.out").toUtf8() + "\n",
                                  60000);
    }

    void cancelFromTheTab() {
        write("my decks/long.inp", "wait-for never\n");
        write("my decks/long.out", "the user's file");
        setPath("plovenInputEdit", path("my decks/long.inp"));
        setPath("plovenOutputEdit", "long.out");
        click("runPlovenButton");
        QVERIFY(find("cancelPlovenButton")->isEnabled() &&
                !find("cancelTravikButton")->isEnabled());
        click("cancelPlovenButton");
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QVERIFY(text("plovenStatusLabel").startsWith("PLOVEN run cancelled after "));
        QVERIFY(text("resultStatusLabel", window_->results(Estimator::Class))
                    .startsWith("<b>PLOVEN: Cancelled</b>"));
        // The output file still holds an older report, which is not offered as this run's.
        QVERIFY(!find("viewResultsReportButton", window_->results(Estimator::Class))->isEnabled());
        QCOMPARE(readFile(path("my decks/long.out")), QByteArray("the user's file"));
    }

    void csvRunEndsInTheResultsWithItsDeckInTheTab() {
        write("my decks/answers.csv",
              "write LATC7.OUT report\nwrite LATC.INP Made\n"
              "append LATC.INP 4 2 2 0 0 0 0 0 0 0\nappend LATC.INP 0.0001 50 0\n"
              "write ploven.json {\"schema_version\": 1, \"program\": "
              "\"ploven\", \"status\": \"converged\", \"model\": "
              "{\"classes\": 2}, \"eta\": [" +
                  classValues(0.25, 0.75) +
                  "], \"items\": [{\"number\": 1, \"name\": \"q1\", "
                  "\"type\": \"binary\", \"parameters\": [" +
                  classValues(0.5, 0.1) + "]}]}\n");
        // The tab still names the deck of an earlier run and its report: the CSV run's report
        // and deck go beside the CSV file, so that deck is never replaced.
        write("my decks/study.inp", "the user's deck");
        setPath("plovenInputEdit", path("my decks/study.inp"));
        setPath("plovenOutputEdit", "study.out");
        CsvImportChoice choice =
            defaultChoice(Estimator::Class, path("my decks/answers.csv"), {"q1", "q2"});
        choice.roles = {ColumnRole::Binary, ColumnRole::Binary};
        window_->runCsv(Estimator::Class, choice);
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        QCOMPARE(readFile(path("my decks/answers.out")), QByteArray("report\n"));
        QCOMPARE(readFile(path("my decks/study.inp")), QByteArray("the user's deck"));
        QVERIFY(!QFile::exists(path("my decks/study.out")));
        QCOMPARE(qobject_cast<QLineEdit*>(find("plovenOutputEdit"))->text(),
                 path("my decks/answers.out"));
        // The deck the estimator made is kept beside the report and becomes the tab's deck.
        QCOMPARE(qobject_cast<QLineEdit*>(find("plovenInputEdit"))->text(),
                 path("my decks/answers.inp"));
        QCOMPARE(text("plovenTitleLabel") + "|" + text("plovenItemsLabel"), QString("Made|2"));
        QVERIFY(text("plovenStatusLabel").startsWith("PLOVEN finished in "));
        ResultsWindow* results = window_->results(Estimator::Class);
        QVERIFY(
            text("resultStatusLabel", results).contains("Deck: " + path("my decks/answers.inp")));
        auto* plots = results->findChild<QComboBox*>("plotKindBox");
        QCOMPARE(plots->itemText(0) + "|" + plots->itemText(1) + "|" + plots->itemText(2),
                 QString("Class profiles|Category profiles|Class sizes"));
        auto* chart = results->findChild<QChartView*>("plotChartView")->chart();
        QCOMPARE(chart->series().size(), qsizetype(2)); // one line per class
        QCOMPARE(qobject_cast<QLineSeries*>(chart->series()[1])->points(),
                 (QList<QPointF>{{1, 0.1}}));
    }

    void runWithoutPathsOrWithoutReportIsReported() {
        ModalAnswerer answerer;
        click("runPlovenButton");
        QCOMPARE(answerer.seen,
                 QStringList{"Error|You have to specify the input and output files|" + kError});
        QVERIFY(!window_->runs().isRunning());

        write("my decks/silent.inp", "say no report today\n");
        setPath("plovenInputEdit", path("my decks/silent.inp"));
        setPath("plovenOutputEdit", path("my decks/silent.out"));
        click("runPlovenButton");
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        // The failure is shown in the results window, never as an empty report.
        ResultsWindow* results = window_->results(Estimator::Class);
        const QString status = text("resultStatusLabel", results);
        QVERIFY2(status.startsWith("<b>PLOVEN: Failed</b>") &&
                     status.contains("without writing its report &quot;LATC7.OUT&quot;"),
                 qPrintable(status));
        QCOMPARE(text("resultWarningsLabel", results), QString("Warnings:\nno report today"));
        QCOMPARE(answerer.seen.size(), qsizetype(1));
        QVERIFY(text("plovenStatusLabel").startsWith("PLOVEN run failed"));
        QVERIFY(!QFile::exists(path("my decks/silent.out")));
    }

    void rejectedDeckShowsItsReasonAndNoEmptyPages() {
        write("my decks/bad.inp",
              "write LATC7.OUT ** ERROR: NON-BINARY VARIABLE **  OBS=   2\n"
              "write ploven.json {\"schema_version\": 1, \"program\": \"ploven\", \"status\": "
              "\"rejected\", \"message\": \"** ERROR: NON-BINARY VARIABLE **  OBS=   2\", "
              "\"model\": {\"classes\": 1, \"items\": 3}}\n"
              "write ploven-cases.csv case,class\nexit 1\n");
        setPath("plovenInputEdit", path("my decks/bad.inp"));
        setPath("plovenOutputEdit", "bad.out");
        click("runPlovenButton");
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        ResultsWindow* results = window_->results(Estimator::Class);
        const QString status = text("resultStatusLabel", results);
        // The message keeps the blanks that line up its numbers.
        QVERIFY2(status.startsWith("<b>PLOVEN: Rejected</b><br><span style=\"white-space: "
                                   "pre-wrap\">** ERROR: NON-BINARY VARIABLE **  OBS=   2</span>"),
                 qPrintable(status));
        QVERIFY(text("plovenStatusLabel").startsWith("PLOVEN rejected the input after "));
        // No estimates and no cases: those pages are not offered empty; the report is.
        auto* pages = results->findChild<QTabWidget*>("resultPages");
        QVERIFY(pages->isTabEnabled(0) && !pages->isTabEnabled(1) && !pages->isTabEnabled(3));
        QVERIFY(find("viewResultsReportButton", results)->isEnabled());
        // No plots of a failed run, and nothing to save from them.
        QVERIFY(!pages->isTabEnabled(2) && !find("savePlotButton", results)->isEnabled());
        pages->setCurrentIndex(2);
        QVERIFY(!find("savePlotButton", results)->isEnabled());
        // Class results have no factors: no trait controls.
        QVERIFY(!find("plotFactorBox", results)->isVisibleTo(results));
    }

    void reportThatCannotBeWrittenShowsNoEstimatesAndCanBeSaved() {
        write("my decks/run.inp",
              "write LATC7.OUT the report\n"
              "write ploven.json {\"schema_version\": 1, \"program\": \"ploven\", \"status\": "
              "\"converged\", \"model\": {\"classes\": 2}, \"eta\": [" +
                  classValues(0.25, 0.75) +
                  "], \"items\": [{\"number\": 1, \"name\": \"q1\", \"type\": \"binary\", "
                  "\"parameters\": [" +
                  classValues(0.5, 0.1) + "]}]}\n");
        setPath("plovenInputEdit", path("my decks/run.inp"));
        setPath("plovenOutputEdit", path("no folder/run.out"));
        click("runPlovenButton");
        QTRY_VERIFY_WITH_TIMEOUT(!window_->runs().isRunning(), 60000);
        ResultsWindow* results = window_->results(Estimator::Class);
        const QString status = text("resultStatusLabel", results);
        QVERIFY2(status.startsWith("<b>PLOVEN: Failed</b>") &&
                     status.contains(path("no folder/run.out")) && !status.contains("partial"),
                 qPrintable(status));
        auto* pages = results->findChild<QTabWidget*>("resultPages");
        for (int page = 1; page < 4; ++page) QVERIFY(!pages->isTabEnabled(page));
        QCOMPARE(results->currentTableText().count('\n'), 3); // header, status, message
        QVERIFY(!find("viewResultsReportButton", results)->isEnabled());
        QVERIFY(find("saveReportButton", results)->isVisibleTo(results));
        QVERIFY(results->saveReportTo(path("elsewhere.out")));
        QCOMPARE(readFile(path("elsewhere.out")), QByteArray("the report\n"));
        QVERIFY(find("viewResultsReportButton", results)->isEnabled());
    }

    void resultsWindowTablesPlotsAndPictures() {
        QFile json(QStringLiteral(ORUK_TEST_DATA "/travik.json"));
        QVERIFY(json.open(QIODevice::ReadOnly));
        RunOutcome outcome;
        outcome.results = parseResults(json.readAll(), "travik.json").results;
        QVERIFY(outcome.results && outcome.results->factors == 2);
        outcome.ending = {RunEnding::Converged, QString()};
        outcome.history = {{QString(), {{1, -1510}, {2, -1500}, {3, -1497}}}};
        outcome.outputPath = path("my decks/r.out");
        outcome.reportDelivered = true;
        ResultsWindow results(Estimator::Trait);
        results.showOutcome(outcome);
        results.show();

        auto* plots = results.findChild<QComboBox*>("plotKindBox");
        auto* items = results.findChild<QComboBox*>("plotItemBox");
        auto* factor = results.findChild<QComboBox*>("plotFactorBox");
        auto chart = [&] { return results.findChild<QChartView*>("plotChartView")->chart(); };
        QCOMPARE(plots->count(), 4); // item curves, test and item information, loglikelihood
        QCOMPARE(items->count(), int(outcome.results->items.size()));
        const ItemResult& nominal = outcome.results->items[6];
        QCOMPARE(items->itemText(6), QString("7. %1 (nominal)").arg(nominal.name));
        QVERIFY(factor->isEnabled() && factor->count() == 2);
        items->setCurrentIndex(6);
        // One curve per category, each over the grid.
        QCOMPARE(chart()->series().size(), qsizetype(nominal.categories));
        QCOMPARE(qobject_cast<QLineSeries*>(chart()->series()[0])->count(), 81);
        items->setCurrentIndex(0);
        const QList<QPointF> first = qobject_cast<QLineSeries*>(chart()->series()[0])->points();
        factor->setCurrentIndex(1); // the same item along the second factor
        const QList<QPointF> second = qobject_cast<QLineSeries*>(chart()->series()[0])->points();
        QCOMPARE(first[40], second[40]); // both factors at 0
        QVERIFY(first.back() != second.back());
        // The test information with its standard error on an axis of its own.
        plots->setCurrentIndex(1);
        QVERIFY(!items->isEnabled() && factor->isEnabled());
        QCOMPARE(chart()->series().size(), qsizetype(2));
        QCOMPARE(chart()->axes(Qt::Vertical).size(), qsizetype(2));
        const QList<QPointF> information =
            qobject_cast<QLineSeries*>(chart()->series()[0])->points();
        const QList<QPointF> se = qobject_cast<QLineSeries*>(chart()->series()[1])->points();
        QCOMPARE(se[40].y(), 1.0 / std::sqrt(information[40].y()));
        plots->setCurrentIndex(2); // one information curve per item
        QCOMPARE(chart()->series().size(), qsizetype(outcome.results->items.size()));
        plots->setCurrentIndex(3);
        QVERIFY(!items->isEnabled() && !factor->isEnabled());
        QCOMPARE(qobject_cast<QLineSeries*>(chart()->series()[0])->count(), 3);

        // "Copy table" copies the page on view; "Save plot" writes PNG and SVG.
        auto* pages = results.findChild<QTabWidget*>("resultPages");
        pages->setCurrentIndex(1);
        click("copyTableButton", &results);
        const Estimate intercept = *outcome.results->items[0].parameter("intercept");
        QVERIFY(QApplication::clipboard()->text().startsWith(
            QString("Item\tName\tType\tParameter\tEstimate\tSE\n"
                    "1\t%1\tbinary\tintercept\t%2\t%3\n")
                .arg(outcome.results->items[0].name,
                     QString::number(intercept.value, 'g', QLocale::FloatingPointShortest),
                     QString::number(*intercept.standardError, 'g',
                                     QLocale::FloatingPointShortest))));
        QCOMPARE(QApplication::clipboard()->text(), results.currentTableText());
        QCOMPARE(text("resultFeedbackLabel", &results),
                 QString("Copied the Estimates table (%1 rows) to the clipboard.")
                     .arg(QApplication::clipboard()->text().count('\n') - 1));
        pages->setCurrentIndex(2);
        QVERIFY(!find("copyTableButton", &results)->isEnabled() &&
                find("savePlotButton", &results)->isEnabled());
        plots->setCurrentIndex(0);
        items->setCurrentIndex(6);
        QCOMPARE(results.suggestedPlotName(),
                 "r-item-response-curves-" + nominal.name.toLower().replace(' ', '-') + "-z2.png");
        const int shownWidth = results.findChild<QChartView*>("plotChartView")->width();
        QVERIFY(results.savePlotTo(path("plot.png"))); // twice the size on screen by default
        QVERIFY(results.savePlotTo(path("plot1.png"), 1.0));
        QVERIFY(results.savePlotTo(path("plot.svg")));
        QImage png(path("plot.png"));
        QVERIFY(!png.isNull() && png.width() == 2 * shownWidth);
        QCOMPARE(QImage(path("plot1.png")).width(), shownWidth);
        QVERIFY(readFile(path("plot.svg")).contains("<svg"));
        ModalAnswerer answerer;
        QVERIFY(!results.savePlotTo(path("no folder/plot.png")));
        QCOMPARE(answerer.seen.size(), qsizetype(1));

        // Export all: every table of the pages offered as CSV, every plot for every item and
        // factor as PNG.
        const QStringList written = results.exportAllTo(path("export"));
        const qsizetype items2 = qsizetype(outcome.results->items.size());
        QCOMPARE(written.filter(".png").size(), 2 * items2 + 2 + 2 + 1);
        for (const char* table : {"r-summary.csv", "r-estimates.csv", "r-rotated-loadings.csv",
                                  "r-standardized-loadings.csv"})
            QVERIFY2(written.contains(path("export/") + table), table);
        QVERIFY(readFile(path("export/r-estimates.csv"))
                    .startsWith("Item,Name,Type,Parameter,Estimate,SE\n1,"));
        QVERIFY(!QImage(written.filter(".png").first()).isNull());
    }

    void classResultsShowTheNewerAnalyses() {
        auto fixture = [](const char* name) {
            QFile file(QStringLiteral(ORUK_TEST_DATA "/") + name);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        RunOutcome outcome;
        outcome.results = parseResults(fixture("ploven-polytomous.json"), "ploven.json").results;
        outcome.comparison = parseComparison(fixture("ploven-comparison.json"), "c.json").rows;
        QVERIFY(outcome.results && outcome.comparison.size() == 3);
        outcome.ending = {RunEnding::Converged, QString()};
        ResultsWindow results(Estimator::Class);
        results.showOutcome(outcome);
        results.show();
        auto* pages = results.findChild<QTabWidget*>("resultPages");
        QStringList shown;
        for (int page = 0; page < pages->count(); ++page)
            if (pages->isTabVisible(page)) shown << pages->tabText(page);
        QCOMPARE(shown, (QStringList{"Summary", "Estimates", "Plots", "Cases",
                                     "Bivariate residuals", "Class counts"}));
        auto* kinds = results.findChild<QComboBox*>("plotKindBox");
        QStringList offered;
        for (int k = 0; k < kinds->count(); ++k) offered << kinds->itemText(k);
        QCOMPARE(offered, (QStringList{"Class profiles", "Category profiles", "Class sizes",
                                       "BIC by number of classes", "Loglikelihood by cycle"}));
        kinds->setCurrentIndex(1);
        auto* items = results.findChild<QComboBox*>("plotItemBox");
        QVERIFY(items->isEnabled() && !find("plotFactorBox", &results)->isVisibleTo(&results));
        items->setCurrentIndex(1); // mood: three categories, a line per class
        auto* chart = results.findChild<QChartView*>("plotChartView")->chart();
        QCOMPARE(chart->series().size(), qsizetype(2));
        QCOMPARE(qobject_cast<QLineSeries*>(chart->series()[0])->count(), 3);
        pages->setCurrentIndex(8);
        QVERIFY(results.currentTableText().startsWith("Classes\tLoglikelihood\t"));
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
