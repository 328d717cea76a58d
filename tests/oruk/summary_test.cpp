// Deck summaries read with the estimators' deck reader: what a tab shows of a deck, that a
// deck the reader refuses shows nothing but says why with the reader's line, and that the other
// estimator's deck is recognised.
#include "oruk/core/decksummary.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace oruk;

namespace {

QString writeDeck(const QTemporaryDir& dir, const QByteArray& text) {
    static int count = 0;
    QFile file(dir.filePath(QString("deck%1.inp").arg(++count)));
    if (file.open(QIODevice::WriteOnly)) file.write(text);
    return file.fileName();
}

} // namespace

class SummaryTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

  private slots:
    void traitDeck_data() {
        QTest::addColumn<QByteArray>("deck");
        QTest::addColumn<QString>("shown"); // title|cases|items|factors|MAXIT
        // Record 4 lists one ordinal item; the factors still come from record 5.
        QTest::newRow("four item types")
            << QByteArray("   Mixed  \n25 3 2 0 1 16\n\n4\n2 0 50 1 1e-4 0\n") << "Mixed|25|6|2|50";
        // Records go on over lines and end with their last value, as the estimator reads them.
        QTest::newRow("records over two lines")
            << QByteArray("Split\n12, 2,\n 0,1, 0 ,8 words\n3\n\n1,0\n50 1 1e-4 0\n")
            << "Split|12|3|1|50";
        QTest::newRow("made on Windows")
            << QByteArray("\xEF\xBB\xBFWin\r\n5 1 1 1 1 8\r\n3\r\n4\r\n1 0 200 0 1E-4 0\r\n")
            << "Win|5|4|1|200";
        QTest::newRow("Latin-1 title") << QByteArray("\xFC"
                                                     "ber\n10 2 0 0 0 8\n\n\n2 0 0 1 1.0D-4 0\n")
                                       << QString::fromUtf8("über|10|2|2|0");
    }

    void traitDeck() {
        QFETCH(QByteArray, deck);
        const auto read = readTraitSummary(writeDeck(dir_, deck));
        QCOMPARE(read.access, DeckAccess::Read);
        const TraitSummary& s = read.summary;
        QTEST(QString("%1|%2|%3|%4|%5")
                  .arg(s.title)
                  .arg(s.cases)
                  .arg(s.items)
                  .arg(s.factors)
                  .arg(s.maxCycles),
              "shown");
    }

    void classDeck() {
        auto read =
            readClassSummary(writeDeck(dir_, "  Reading \n120 3\n 8 0 0 0 0 0 0 0\n1e-4 100 0\n"));
        QCOMPARE(read.access, DeckAccess::Read);
        const ClassSummary& s = read.summary;
        QCOMPARE(QString("%1|%2|%3|%4").arg(s.title).arg(s.patterns).arg(s.items).arg(s.classes),
                 QString("Reading|120|8|3"));
        QVERIFY(!s.patternInput);
        QCOMPARE(s.maxCycles, qint64(100));
        // Pattern input; MAXIT 0 stands for 3000.
        read = readClassSummary(
            writeDeck(dir_, "P\n6 2 5 1 0 0 0 1 0 0\n0.000001 0 0\n12 1 1 1 1 1\n"));
        QVERIFY(read.summary.patternInput);
        QCOMPARE(read.summary.maxCycles, qint64(3000));
    }

    void theOtherEstimatorsDeckIsRecognised() {
        const QString trait = writeDeck(dir_, "Science\n25 3 2 0 1 16\n\n4\n2 0 50 1 0.0001 0\n");
        const auto asClass = readClassSummary(trait);
        QCOMPARE(asClass.access, DeckAccess::OtherKind);
        QVERIFY2(asClass.problem.contains("looks like a latent trait deck") &&
                     asClass.problem.contains("Generalized Latent Model tab") &&
                     asClass.problem.startsWith(QFileInfo(trait).fileName()),
                 qPrintable(asClass.problem));
        QCOMPARE(asClass.summary.items, qint64(0));
        const auto asTrait =
            readTraitSummary(writeDeck(dir_, "Reading\n120 3 8 0 0 0 0 0 0 0\n1e-4 100 0\n"));
        QCOMPARE(asTrait.access, DeckAccess::OtherKind);
        QVERIFY(asTrait.problem.contains("looks like a latent class deck"));
    }

    // What the estimators' reader refuses, named with its line; nothing else is shown.
    void brokenDeckShowsNothingButSaysWhy_data() {
        QTest::addColumn<QByteArray>("deck");
        QTest::addColumn<QString>("problem"); // after "deckN.inp does not read as a ..."
        const QByteArray counts = "T\n10 1 0 0 0 8\n\n\n";
        QTest::newRow("empty") << QByteArray("\xEF\xBB\xBF") << "it is empty.";
        QTest::newRow("title only")
            << QByteArray("Title only\n")
            << "line 2: the file ends after 0 of 6 values of the counts record.";
        QTest::newRow("a word for a count") << QByteArray("T\nten 1 0 0 0 8\n\n\n1 0 5 0 1e-4 0\n")
                                            << "line 2: expected an integer, found \"ten\".";
        QTest::newRow("a fraction for a count")
            << QByteArray("T\n10 1.5 0 0 0 8\n\n\n1 0 5 0 1e-4 0\n")
            << "line 2: expected an integer, found \"1.5\".";
        QTest::newRow("no control record")
            << counts << "line 5: the file ends after 0 of 6 values of the control record.";
        QTest::newRow("control record cut short")
            << counts + "1 0\n"
            << "line 5: the file ends after 2 of 6 values of the control record.";
        QTest::newRow("old Mac line ends")
            << QByteArray("T\r10 1 0 0 0 8\r\r\r1 0 5 0 1e-4 0\r")
            << "line 1: the line ends with a carriage return alone (old Mac line ends); save the "
               "file with Unix or Windows line ends.";
    }

    void brokenDeckShowsNothingButSaysWhy() {
        QFETCH(QByteArray, deck);
        const QString path = writeDeck(dir_, deck);
        const auto read = readTraitSummary(path);
        QCOMPARE(read.access, DeckAccess::Unreadable);
        QVERIFY(read.summary.title.isEmpty() && read.summary.cases == 0);
        QFETCH(QString, problem);
        QCOMPARE(read.problem,
                 QFileInfo(path).fileName() + " does not read as a latent trait deck: " + problem);
    }

    void brokenClassDeck() {
        const QString noLimits = writeDeck(dir_, "Reading\n120 3 8 0 0 0 0 0 0 0\n");
        QCOMPARE(readClassSummary(noLimits).problem,
                 QFileInfo(noLimits).fileName() +
                     " does not read as a latent class deck: line 3: the file ends after 0 of 3 "
                     "values TOL, MAXIT, NSIM.");
        const auto word = readClassSummary(writeDeck(dir_, "T\n10 2 x 0 0 0 0 0 0 0\n1e-4 5 0\n"));
        QCOMPARE(word.access, DeckAccess::Unreadable);
        QVERIFY2(word.problem.endsWith("line 2: expected an integer, found \"x\"."),
                 qPrintable(word.problem));
        QVERIFY(word.summary.title.isEmpty());
    }

    void pathThatNamesNoFile() {
        for (const QString& path : {QString(), QString("  "), dir_.path(), dir_.path() + "/x/"}) {
            QCOMPARE(readTraitSummary(path).access, DeckAccess::InvalidPath);
            QCOMPARE(readClassSummary(path).access, DeckAccess::InvalidPath);
        }
        // A file that is not there cannot be read; it is not a bad name.
        const auto missing = readTraitSummary(dir_.filePath("missing.inp"));
        QCOMPARE(missing.access, DeckAccess::Unreadable);
        QVERIFY(missing.problem.startsWith("missing.inp cannot be read"));
    }
};

QTEST_GUILESS_MAIN(SummaryTest)
#include "summary_test.moc"
