// CSV import: the header row read with the estimators' CSV reader (quotes, byte-order marks and
// Windows line ends), files it refuses named by file, line and column, and the estimator's
// command line for a choice of types, both from the choice itself and from the dialog.
#include "oruk/core/csvimport.hpp"
#include "oruk/ui/csvimportdialog.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace oruk;

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text) {
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly)) file.write(text);
    return file.fileName();
}

void choose(CsvImportDialog& dialog, int column, const QString& role) {
    QComboBox* box = dialog.roleBox(column);
    box->setCurrentIndex(box->findText(role));
}

} // namespace

class CsvTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

  private slots:
    void headerNames_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("plain") << QByteArray("id,q1,q2\n1,0,1\n") << QStringList{"id", "q1", "q2"};
        QTest::newRow("byte-order mark, CRLF, blanks")
            << QByteArray("\xEF\xBB\xBF id , q1\r\n1,0\r\n") << QStringList{"id", "q1"};
        QTest::newRow("quoted with comma, quote and line break")
            << QByteArray("\"a,b\",\"say \"\"yes\"\"\",\"two\nlines\"\n1,2,3\n")
            << QStringList{"a,b", "say \"yes\"", "two\nlines"};
        QTest::newRow("blank lines first, no data")
            << QByteArray("\n  \nx,y") << QStringList{"x", "y"};
        QTest::newRow("UTF-8 names") << QByteArray("gr\xC3\xB6\xC3\x9F"
                                                   "e,b\n")
                                     << QStringList{QString::fromUtf8("größe"), "b"};
    }

    void headerNames() {
        QFETCH(QByteArray, text);
        const CsvHeader header = readCsvHeader(writeFile(dir_, "h.csv", text));
        QCOMPARE(header.problem, QString());
        QTEST(header.names, "names");
    }

    // Each column's type guessed from all its values, the missing ones left aside; the first
    // rows kept for the preview.
    void columnTypesGuessedAndFirstRowsKept() {
        QCOMPARE(guessedRole("q", {"0", "1", "", "NA", "1", "."}), ColumnRole::Binary);
        QCOMPARE(guessedRole("q", {"1", "2", "3", "10", "4", "5", "6", "7", "8", "9"}),
                 ColumnRole::Ordinal); // ten levels
        QCOMPARE(guessedRole("q", {"1", "2", "3", "11", "4", "5", "6", "7", "8", "9", "10"}),
                 ColumnRole::Normal); // eleven
        QCOMPARE(guessedRole("q", {"0", "1", "2"}), ColumnRole::Ordinal);
        QCOMPARE(guessedRole("q", {"0.5", "1", "2"}), ColumnRole::Normal);
        QCOMPARE(guessedRole("q", {"1", "2", "yes"}), ColumnRole::Nominal);
        QCOMPARE(guessedRole("ID", {"1", "2", "3"}), ColumnRole::Id);
        QCOMPARE(guessedRole("q", {"", "NA"}), ColumnRole::Unused);
        QCOMPARE(roleFor(Estimator::Class, ColumnRole::Ordinal), ColumnRole::Nominal);
        QCOMPARE(roleFor(Estimator::Class, ColumnRole::Normal), ColumnRole::Unused);
        QCOMPARE(roleFor(Estimator::Class, ColumnRole::Binary), ColumnRole::Binary);
        QCOMPARE(roleFor(Estimator::Trait, ColumnRole::Nominal), ColumnRole::Nominal);

        QByteArray text = "id,sex,score,mood,rating\n";
        for (int i = 1; i <= 12; ++i)
            text += QByteArray::number(i) + "," + (i % 2 ? "0" : "1") + "," +
                    QByteArray::number(i * 1.25) + "," + (i % 3 ? "calm" : "\"tense, very\"") +
                    "," + QByteArray::number(i % 5 + 1) + "\n";
        const CsvHeader header = readCsvHeader(writeFile(dir_, "guess.csv", text));
        QCOMPARE(header.problem, QString());
        QCOMPARE(header.guessedRoles,
                 (std::vector<ColumnRole>{ColumnRole::Id, ColumnRole::Binary, ColumnRole::Normal,
                                          ColumnRole::Nominal, ColumnRole::Ordinal}));
        QCOMPARE(header.preview.size(), std::size_t(kPreviewRows));
        QCOMPARE(header.preview[2], (QStringList{"3", "0", "3.75", "tense, very", "4"}));

        // The dialog shows those rows above the types it starts from.
        CsvImportChoice initial = defaultChoice(Estimator::Trait, "guess.csv", header.names);
        for (std::size_t c = 0; c < initial.roles.size(); ++c)
            initial.roles[c] = roleFor(Estimator::Trait, header.guessedRoles[c]);
        CsvImportDialog dialog(Estimator::Trait, initial, header.preview);
        auto* preview = dialog.findChild<QTableWidget*>("csvPreviewTable");
        QVERIFY(preview && preview->rowCount() == kPreviewRows && preview->columnCount() == 5);
        QCOMPARE(preview->item(2, 3)->text(), QString("tense, very"));
        QCOMPARE(dialog.roleBox(4)->currentText(), QString("ordinal"));
        QCOMPARE(dialog.choice().roles, initial.roles);
    }

    // The whole file is read, so a row the estimator would refuse is named before the run.
    void badFilesNameTheFileLineAndColumn_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("problem");
        QTest::newRow("empty name") << QByteArray("a,,c\n")
                                    << "bad.csv line 1, column 2: the column has no name; every "
                                       "column needs a name in the header row";
        QTest::newRow("unclosed quote")
            << QByteArray("a,b\n1,\"2\n3,4\n")
            << "bad.csv line 2, column 2 (\"b\"): a quoted value is not closed before the end of "
               "the file";
        QTest::newRow("quote inside")
            << QByteArray("a,b\"c\n")
            << "bad.csv line 1, column 2: a stray quote character; a value that holds quotes must "
               "be quoted as a whole, with each quote inside doubled (\"\")";
        QTest::newRow("old Mac line ends")
            << QByteArray("a,b\r1,2\r")
            << "bad.csv line 1, column 1 (\"a\"): a carriage return (CR) without a line feed ends "
               "a line here; save the file with LF or CRLF line ends";
        QTest::newRow("empty file") << QByteArray("")
                                    << "bad.csv line 1, column 1: the file is empty; a header row "
                                       "with the column names is expected";
        // A quoted line break counts for the lines after it.
        QTest::newRow("short row after a quoted line break")
            << QByteArray("id,note,q1\r\n1,\"two\r\nlines\",0\r\n2,x\r\n")
            << "bad.csv line 4, column 3 (\"q1\"): the record ends after 2 of 3 fields";
        QTest::newRow("long row")
            << QByteArray("id,q1\n1,0\n2,1,0\n")
            << "bad.csv line 3, column 3: the record has 3 fields, the header 2; quote values "
               "that hold commas";
    }

    void badFilesNameTheFileLineAndColumn() {
        QFETCH(QByteArray, text);
        const CsvHeader header = readCsvHeader(writeFile(dir_, "bad.csv", text));
        QTEST(header.problem, "problem");
        QVERIFY(header.names.isEmpty());
        QVERIFY(
            readCsvHeader(dir_.filePath("none.csv")).problem.contains("none.csv cannot be read"));
    }

    void traitCommandLine() {
        CsvImportChoice choice =
            defaultChoice(Estimator::Trait, "/data/my survey.csv",
                          {"person", "votes", "income", "transport", "interest", "note", "q7"});
        QCOMPARE(choice.maxCycles, 500);
        QCOMPARE(choice.tolerance, 1e-8);
        QCOMPARE(choice.points, 48);
        QCOMPARE(choiceProblem(Estimator::Trait, choice),
                 QString("Choose a type for at least one item column."));
        choice.roles = {ColumnRole::Id,      ColumnRole::Binary,  ColumnRole::Normal,
                        ColumnRole::Nominal, ColumnRole::Ordinal, ColumnRole::Unused,
                        ColumnRole::Binary};
        choice.factors = 2;
        choice.points = defaultPoints(2);
        QCOMPARE(choiceProblem(Estimator::Trait, choice), QString());
        QCOMPARE(csvArguments(Estimator::Trait, choice),
                 (QStringList{"--csv",        "/data/my survey.csv",
                              "--binary",     "votes,q7",
                              "--normal",     "income",
                              "--nominal",    "transport",
                              "--ordinal",    "interest",
                              "--id",         "person",
                              "--factors",    "2",
                              "--points",     "31",
                              "--max-cycles", "500",
                              "--tolerance",  "1e-08"}));
        choice.accelerate = false; // CSV runs are accelerated unless plain EM is asked for
        QCOMPARE(csvArguments(Estimator::Trait, choice).last(), QString("--no-accelerate"));
        choice.maxCycles = 100001;
        QVERIFY(choiceProblem(Estimator::Trait, choice).contains("100000 at most"));
        choice.roles[5] = ColumnRole::Id;
        QVERIFY(choiceProblem(Estimator::Trait, choice).contains("Only one column"));
    }

    void classCommandLine() {
        CsvImportChoice choice =
            defaultChoice(Estimator::Class, "answers.csv", {"id", "q1", "q2", "q3"});
        QCOMPARE(choice.maxCycles, 3000);
        QCOMPARE(choice.starts, 20);
        QCOMPARE(choice.seed, qint64(1));
        choice.roles = {ColumnRole::Id, ColumnRole::Binary, ColumnRole::Binary, ColumnRole::Unused};
        choice.classes = 3;
        QCOMPARE(choiceProblem(Estimator::Class, choice),
                 QString("3 classes need at least 3 items."));
        choice.classes = 2;
        choice.standardErrors = true;
        choice.simulations = 100;
        choice.seed = 7;
        QCOMPARE(csvArguments(Estimator::Class, choice),
                 (QStringList{"--csv", "answers.csv", "--classes", "2", "--items", "q1,q2", "--id",
                              "id", "--max-cycles", "3000", "--tolerance", "1e-08", "--se",
                              "--simulate", "100", "--starts", "20", "--seed", "7"}));
        // Nominal columns are items too, in the file's order among the binary ones.
        choice.roles[3] = ColumnRole::Nominal;
        QCOMPARE(csvArguments(Estimator::Class, choice).mid(4, 2),
                 (QStringList{"--items", "q1,q2,q3"}));
        choice.roles[3] = ColumnRole::Ordinal;
        QCOMPARE(choiceProblem(Estimator::Class, choice),
                 QString("The latent class model takes binary and nominal items."));
    }

    void namesTheCommandLineCannotCarry() {
        CsvImportChoice choice = defaultChoice(Estimator::Trait, "d.csv", {"a,b", "c", "c"});
        choice.roles = {ColumnRole::Binary, ColumnRole::Unused, ColumnRole::Unused};
        QVERIFY(choiceProblem(Estimator::Trait, choice).contains("holds a comma"));
        choice.roles = {ColumnRole::Unused, ColumnRole::Binary, ColumnRole::Unused};
        QVERIFY(choiceProblem(Estimator::Trait, choice).contains("names the column \"c\" twice"));
    }

    void dialogGivesTheCommandLineOfItsChoice() {
        CsvImportDialog dialog(Estimator::Trait,
                               defaultChoice(Estimator::Trait, "s.csv", {"id", "x", "y", "z"}));
        QCOMPARE(dialog.roleBox(0)->count(), 6);
        choose(dialog, 0, "ID");
        choose(dialog, 1, "ordinal");
        choose(dialog, 3, "binary");
        dialog.findChild<QSpinBox*>("factorsSpinBox")->setValue(2); // the points follow: 31
        QCOMPARE(dialog.findChild<QSpinBox*>("maxCyclesSpinBox")->maximum(), 100000);
        QVERIFY(dialog.findChild<QCheckBox*>("csvAccelerateCheck")->isChecked());
        dialog.findChild<QCheckBox*>("csvAccelerateCheck")->setChecked(false);
        dialog.findChild<QSpinBox*>("maxCyclesSpinBox")->setValue(800);
        dialog.findChild<QLineEdit*>("toleranceEdit")->setText("1e-6");
        dialog.findChild<QCheckBox*>("listScoresCheck")->setChecked(true);
        QCOMPARE(csvArguments(Estimator::Trait, dialog.choice()),
                 (QStringList{"--csv", "s.csv", "--binary", "z", "--ordinal", "x", "--id", "id",
                              "--factors", "2", "--points", "31", "--max-cycles", "800",
                              "--tolerance", "1e-06", "--no-accelerate", "--scores"}));

        CsvImportDialog classes(Estimator::Class,
                                defaultChoice(Estimator::Class, "a.csv", {"q1", "q2", "q3"}));
        QCOMPARE(classes.roleBox(0)->count(), 4); // binary, nominal, ID, unused
        classes.findChild<QPushButton*>("setEveryColumnButton")->click(); // every column binary
        classes.findChild<QSpinBox*>("classesSpinBox")->setValue(3);
        classes.findChild<QSpinBox*>("randomStartsSpinBox")->setValue(0);
        QCOMPARE(
            csvArguments(Estimator::Class, classes.choice()),
            (QStringList{"--csv", "a.csv", "--classes", "3", "--items", "q1,q2,q3", "--max-cycles",
                         "3000", "--tolerance", "1e-08", "--starts", "0", "--seed", "1"}));
        // A count to compare up to makes a range: every count is fitted and compared.
        classes.findChild<QSpinBox*>("lastClassesSpinBox")->setValue(3);
        QCOMPARE(csvArguments(Estimator::Class, classes.choice()).mid(2, 2),
                 (QStringList{"--classes", "3"})); // not above the first: no comparison
        classes.findChild<QSpinBox*>("classesSpinBox")->setValue(1);
        QCOMPARE(csvArguments(Estimator::Class, classes.choice()).mid(2, 2),
                 (QStringList{"--classes", "1-3"}));
        classes.findChild<QSpinBox*>("lastClassesSpinBox")->setValue(4);
        QCOMPARE(choiceProblem(Estimator::Class, classes.choice()),
                 QString("4 classes need at least 4 items."));
        // The dialog says where the report and the deck will go.
        QCOMPARE(classes.findChild<QLabel*>("csvDestinationLabel")->text(),
                 QString("The report goes to a.out and the deck made from the data to a.inp, "
                         "beside the file."));
        QCOMPARE(csvReportPath("/data/answers.v2.csv"), QString("/data/answers.v2.out"));
    }

    void runWithoutItemsIsRefusedAndTheDialogStays() {
        CsvImportDialog dialog(Estimator::Trait, defaultChoice(Estimator::Trait, "s.csv", {"a"}));
        dialog.show();
        QStringList seen;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->text();
                box->accept();
            }
        });
        dialog.accept();
        QCOMPARE(seen, QStringList{"Choose a type for at least one item column."});
        QVERIFY(dialog.isVisible() && dialog.result() != QDialog::Accepted);
    }
};

QTEST_MAIN(CsvTest)
#include "csv_test.moc"
