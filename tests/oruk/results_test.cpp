// The results files read into tables: the fit summary, the estimates of a latent trait and a
// latent class result cell by cell against their JSON, the per-case file, and the text that
// "Copy table" puts on the clipboard.
#include "oruk/core/results.hpp"
#include "oruk/core/resulttables.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace oruk;

namespace {

QByteArray fixture(const char* name) {
    QFile file(QStringLiteral(ORUK_TEST_DATA "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject fixtureObject(const char* name) {
    return QJsonDocument::fromJson(fixture(name)).object();
}

FitResults parsed(const QByteArray& text) {
    ResultsRead read = parseResults(text, "x.json");
    if (!read.results) qWarning("%s", qPrintable(read.problem));
    return read.results.value_or(FitResults{});
}

// The value of a cell as the model gives it, and as it is shown.
QVariant cell(const TableModel& model, int row, int column, int role = Qt::UserRole) {
    return model.data(model.index(row, column), role);
}

// The summary's value for a figure, looked up by its caption.
QVariant figure(const Table& table, const QString& name) {
    for (const auto& row : table.rows)
        if (row[0].toString() == name) return row[1];
    return {};
}

QVariant seOf(const QJsonValue& value) {
    return value.toObject().value("se").isNull()
               ? QVariant()
               : QVariant(value.toObject().value("se").toDouble());
}

} // namespace

class ResultsTest : public QObject {
    Q_OBJECT

  private slots:
    void traitEstimatesMatchTheJson() {
        const QJsonObject json = fixtureObject("travik.json");
        const FitResults results = parsed(fixture("travik.json"));
        QCOMPARE(results.items.size(), std::size_t(5));
        TableModel model(estimatesTable(results));
        QCOMPARE(model.columnCount(), 6);
        QCOMPARE(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString("Estimate"));

        // Every parameter of the JSON is a row, with its item's number, name and type, and its
        // estimate and standard error; the rows are in the order of the items.
        int row = 0;
        for (const QJsonValue item : json.value("items").toArray()) {
            const QJsonObject obj = item.toObject();
            const QJsonArray parameters = obj.value("parameters").toArray();
            for (qsizetype k = 0; k < parameters.size(); ++k, ++row) {
                QCOMPARE(cell(model, row, 0).toLongLong(), qint64(obj.value("number").toInt()));
                QCOMPARE(cell(model, row, 1).toString(), obj.value("name").toString());
                QCOMPARE(cell(model, row, 2).toString(), obj.value("type").toString());
            }
        }
        QCOMPARE(model.rowCount(), row);

        // Each JSON parameter is found once, by key, with its numbers.
        for (const QJsonValue item : json.value("items").toArray()) {
            for (const QJsonValue p : item.toObject().value("parameters").toArray()) {
                const QString caption = QString(p.toObject().value("key").toString())
                                            .replace('_', ' ')
                                            .replace('.', ' ')
                                            .replace("loading1", "loading 1");
                int found = 0;
                for (int r = 0; r < model.rowCount(); ++r) {
                    if (cell(model, r, 1).toString() != item.toObject().value("name").toString() ||
                        cell(model, r, 3).toString() != caption)
                        continue;
                    ++found;
                    QCOMPARE(cell(model, r, 4).toDouble(),
                             p.toObject().value("estimate").toDouble());
                    QCOMPARE(cell(model, r, 5), seOf(p));
                }
                QVERIFY2(found == 1, qPrintable(caption));
            }
        }
        // Intercepts before loadings whatever the file's order; a missing standard error is an
        // empty cell, not a zero.
        QCOMPARE(cell(model, 2, 3).toString() + "|" + cell(model, 3, 3).toString(),
                 QString("intercept|loading 1"));
        QCOMPARE(cell(model, 3, 5, Qt::DisplayRole).toString(), QString());
        QCOMPARE(cell(model, 2, 4, Qt::DisplayRole).toString(), QString("-1.2500"));
        // Nominal categories: intercept then loading, category by category.
        QCOMPARE(cell(model, 7, 3).toString() + "|" + cell(model, 8, 3).toString() + "|" +
                     cell(model, 9, 3).toString(),
                 QString("category 2 intercept|category 2 loading 1|category 3 intercept"));
    }

    void classEstimatesMatchTheJson() {
        const QJsonObject json = fixtureObject("ploven.json");
        const FitResults results = parsed(fixture("ploven.json"));
        TableModel model(estimatesTable(results));
        QCOMPARE(model.columnCount(), 1 + 2 * 3);
        QCOMPARE(model.rowCount(), 1 + 4);
        const QJsonArray eta = json.value("eta").toArray();
        QCOMPARE(cell(model, 0, 0).toString(), QString("class size"));
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(cell(model, 0, 1 + 2 * k).toDouble(),
                     eta[k].toObject().value("estimate").toDouble());
            QCOMPARE(cell(model, 0, 2 + 2 * k), seOf(eta[k]));
        }
        const QJsonArray pi = json.value("pi").toArray();
        for (int j = 0; j < 4; ++j) {
            QCOMPARE(cell(model, 1 + j, 0).toString(), QString("q%1").arg(j + 1));
            for (int k = 0; k < 3; ++k) {
                const QJsonValue value = pi[j].toArray()[k];
                QCOMPARE(cell(model, 1 + j, 1 + 2 * k).toDouble(),
                         value.toObject().value("estimate").toDouble());
                QCOMPARE(cell(model, 1 + j, 2 + 2 * k), seOf(value));
            }
        }
    }

    void summaryShowsTheFitFigures() {
        const QJsonObject json = fixtureObject("ploven.json");
        const FitResults results = parsed(fixture("ploven.json"));
        const Table table = summaryTable({RunEnding::Converged, QString()}, &results);
        QCOMPARE(figure(table, "Status").toString(), QString("converged"));
        for (const char* key : {"loglikelihood", "aic", "bic", "sabic", "entropy"}) {
            const QString name = QString(key) == "loglikelihood" ? "Loglikelihood"
                                 : QString(key) == "entropy"     ? QString("Entropy R²")
                                                                 : QString(key).toUpper();
            QCOMPARE(figure(table, name).toDouble(), json.value(key).toDouble());
        }
        QCOMPARE(figure(table, "Cycles").toLongLong(), qint64(112));
        QCOMPARE(figure(table, "Parameters").toLongLong(), qint64(14));
        QCOMPARE(figure(table, "Classes").toLongLong(), qint64(3));
        QCOMPARE(figure(table, "Cases").toLongLong(), qint64(500));

        // A trait result has no entropy; a failed run without results shows its status alone.
        const FitResults trait = parsed(fixture("travik.json"));
        const Table traitTable = summaryTable({RunEnding::Converged, QString()}, &trait);
        QVERIFY(!figure(traitTable, "Entropy R²").isValid());
        QCOMPARE(figure(traitTable, "Factors").toLongLong(), qint64(1));
        const Table failed =
            summaryTable({RunEnding::Failed, "travik: deck.inp line 3: bad"}, nullptr);
        QCOMPARE(failed.rows.size(), std::size_t(2));
        QCOMPARE(figure(failed, "Message").toString(), QString("travik: deck.inp line 3: bad"));
    }

    void statusesAndProblemsOfTheFile() {
        QByteArray text = fixture("travik.json");
        text.replace("\"converged\"", "\"max_cycles\"")
            .replace("\"message\": \"\"", "\"message\": \"no convergence within 500 cycles\"");
        const FitResults results = parsed(text);
        QCOMPARE(results.status, QString("max_cycles"));
        QCOMPARE(results.message, QString("no convergence within 500 cycles"));

        ResultsRead broken = parseResults("{\"status\": \"converged\", ", "travik.json");
        QVERIFY(!broken.results && broken.problem.startsWith("travik.json is not valid JSON"));
        QVERIFY(parseResults("[1, 2]", "p.json")
                    .problem.contains("p.json does not hold a JSON object"));
        QVERIFY(
            parseResults("{\"program\": \"travik\"}", "t.json").problem.contains("no \"status\""));
        QVERIFY(parseResults(R"({"status": "converged", "items": [{"type": "strange"}]})", "t.json")
                    .problem.contains("unknown type \"strange\""));
        // An estimate that was not finite is written as null and shown as n/a, never as 0.
        const FitResults nulls = parsed(R"({"status": "diverged", "items": [{"type": "binary",
            "parameters": [{"key": "intercept", "estimate": null, "se": null}]}]})");
        TableModel model(estimatesTable(nulls));
        QCOMPARE(cell(model, 0, 4, Qt::DisplayRole).toString(), QString("n/a"));
        QCOMPARE(cell(model, 0, 1).toString(), QString("item 1"));
    }

    void parametersAsAnObjectAndClassTablesByColumn() {
        // The same results laid out otherwise read the same.
        const FitResults results = parsed(R"({"status": "converged", "program": "ploven",
            "eta": {"estimate": [0.6, 0.4], "se": [0.1, 0.1]},
            "pi": {"estimate": [[0.9, 0.2], [0.8, 0.1]], "se": [[0.01, 0.02], [0.03, 0.04]]},
            "items": [{"number": 1, "name": "a", "type": "binary",
                       "parameters": {"pi_2": 0.2, "pi_1": 0.9}}]})");
        QCOMPARE(results.classes, 2);
        QCOMPARE(results.itemProbabilities.size(), std::size_t(2));
        QCOMPARE(results.itemProbabilities[1][1], (Estimate{0.1, 0.04}));
        QCOMPARE(results.items[1].name, QString("item 2"));
        QCOMPARE(results.items[0].parameters.front().key, QString("pi_1"));

        // Without a count of categories, the parameters tell it.
        const FitResults counted = parsed(R"({"status": "converged", "items": [
            {"type": "ordinal", "parameters": {"threshold_1": -1, "threshold_2": 0, "threshold_3": 1, "loading1": 1}},
            {"type": "nominal", "parameters": {"category_2.intercept": 0, "category_4.intercept": 1}}]})");
        QCOMPARE(counted.items[0].categories, 4);
        QCOMPARE(counted.items[1].categories, 4);
    }

    void casesFileAndClipboardText() {
        const CsvRecords records = parseCsv(fixture("ploven-cases.csv"), "ploven-cases.csv");
        QVERIFY(records.problem.isEmpty());
        TableModel cases(casesTable(records));
        QCOMPARE(cases.rowCount(), 3);
        QCOMPARE(cases.columnCount(), 6);
        QCOMPARE(cell(cases, 0, 1).toString(), QString("Smith, Ann"));
        QCOMPARE(cell(cases, 2, 1).toString(), QString("say \"hi\""));
        QCOMPARE(cell(cases, 1, 5).toDouble(), 0.8);

        const QString text = tabSeparated(cases.table());
        const QStringList lines = text.split('\n');
        QCOMPARE(lines.size(), 5); // header, three cases, the final line end
        QCOMPARE(lines[0], QString("case\tid\tclass\tp1\tp2\tp3"));
        QCOMPARE(lines[1], QString("1\tSmith, Ann\t1\t0.91\t0.08\t0.01"));
        // Every digit of a number is copied, not the four shown.
        const FitResults results = parsed(fixture("travik.json"));
        QVERIFY(tabSeparated(summaryTable({RunEnding::Converged, ""}, &results))
                    .contains("Loglikelihood\t-1497.0000123\n"));
    }
};

QTEST_GUILESS_MAIN(ResultsTest)
#include "results_test.moc"
