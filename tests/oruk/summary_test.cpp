// Deck summaries: what a tab shows of a deck, that a broken deck shows nothing but says why,
// and that the other estimator's deck is recognised.
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
        QTest::newRow("counts over two lines")
            << QByteArray("Split\n12, 2,\n 0,1, 0 ,8 words\n3\n\n1,0\n1 1 0\n") << "Split|12|3|1|0";
        QTest::newRow("made on Windows")
            << QByteArray("\xEF\xBB\xBFWin\r\n5 1 1 1 1 8\r\n3\r\n4\r\n1 0 200\r\n")
            << "Win|5|4|1|200";
        QTest::newRow("Latin-1 title") << QByteArray("\xFC"
                                                     "ber\n1.0D1 2 0 0 0 8\n\n\n2\n")
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

    void brokenDeckShowsNothing() {
        for (const QByteArray deck : {"", "Title only\n", "T\nten 1 0 0 0 8\n\n\n1\n",
                                      "T\n10 1.5 0 0 0 8\n\n\n1\n", "T\n10 1 0 0 0 8\n\n\n"}) {
            const auto read = readTraitSummary(writeDeck(dir_, deck));
            QCOMPARE(read.access, DeckAccess::Unreadable);
            QVERIFY(read.summary.title.isEmpty() && read.summary.cases == 0);
            QVERIFY2(read.problem.contains("does not read as a latent trait deck"),
                     qPrintable(read.problem));
        }
        QCOMPARE(readClassSummary(writeDeck(dir_, "Title only\n")).access, DeckAccess::Unreadable);
        QCOMPARE(readClassSummary(writeDeck(dir_, "T\n10 2 x\n")).access, DeckAccess::Unreadable);
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
