// The results files read into tables: the fit summary with the check of the maximum, the estimates
// of a latent trait and a latent class result (real files of travik and ploven, tests/oruk/data)
// cell by cell against their JSON, files that are not in the layout, the per-case file, and the
// text that "Copy table" puts on the clipboard.
#include "oruk/core/classcomparison.hpp"
#include "oruk/core/itemcurves.hpp"
#include "oruk/core/resultcharts.hpp"
#include "oruk/core/results.hpp"
#include "oruk/core/resulttables.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

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

// A JSON estimate's parts as the table holds them: a number, or an empty cell for null.
QVariant jsonCell(const QJsonValue& parameter, const char* member) {
    const QJsonValue value = parameter.toObject().value(QLatin1String(member));
    return value.isNull() ? QVariant() : QVariant(value.toDouble());
}

// Whether some row of the table has caption in its fourth column.
bool figureOfKey(const Table& table, const QString& caption) {
    return std::any_of(table.rows.begin(), table.rows.end(),
                       [&](const auto& row) { return row[3].toString() == caption; });
}

// The head of a results file in the layout, with more members after it.
QByteArray head(const char* program, const QByteArray& more) {
    return QByteArray(R"({"schema_version": 1, "program": ")") + program +
           R"(", "status": "converged", "message": null)" + more + "}";
}

} // namespace

class ResultsTest : public QObject {
    Q_OBJECT

  private slots:
    void traitEstimatesMatchTheJson() {
        const QJsonObject json = fixtureObject("travik.json");
        const FitResults results = parsed(fixture("travik.json"));
        const QJsonArray items = json.value("items").toArray();
        QCOMPARE(results.items.size(), std::size_t(items.size()));
        TableModel model(estimatesTable(results));
        QCOMPARE(model.columnCount(), 6);
        QCOMPARE(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString("Estimate"));

        // Every parameter of the file is a row, in the file's order, with its item's number,
        // name and type, its key as a caption, its estimate and its standard error.
        int row = 0;
        QStringList types;
        for (const QJsonValue item : items) {
            const QJsonObject obj = item.toObject();
            types << obj.value("type").toString();
            for (const QJsonValue p : obj.value("parameters").toArray()) {
                QCOMPARE(cell(model, row, 0).toLongLong(), qint64(obj.value("number").toInt()));
                QCOMPARE(cell(model, row, 1).toString(), obj.value("name").toString());
                QCOMPARE(cell(model, row, 2).toString(), obj.value("type").toString());
                const QString caption =
                    p.toObject()
                        .value("key")
                        .toString()
                        .replace('_', ' ')
                        .replace('.', ' ')
                        .replace(QRegularExpression("loading(\\d)"), "loading \\1")
                        .replace(QRegularExpression("^variance$"), "residual variance");
                QCOMPARE(cell(model, row, 3).toString(), caption);
                QCOMPARE(cell(model, row, 4), jsonCell(p, "estimate"));
                QCOMPARE(cell(model, row, 5), jsonCell(p, "standard_error"));
                QCOMPARE(cell(model, row, 4, Qt::DisplayRole).toString(),
                         QString::number(p.toObject().value("estimate").toDouble(), 'f', 4));
                ++row;
            }
        }
        QCOMPARE(model.rowCount(), row);
        // The file has every type and two factors, so every kind of row was checked.
        QVERIFY(types.contains("binary") && types.contains("normal") && types.contains("nominal") &&
                types.contains("ordinal"));
        QCOMPARE(results.factors, 2);
        QCOMPARE(results.items[6].categories, json["items"][6]["category_count"].toInt());
        QCOMPARE(results.items[6].categoryLabels.size(),
                 json["items"][6]["categories"].toArray().size());
        QCOMPARE(cell(model, 2, 3).toString(), QString("loading 2"));
    }

    // Layout 1 named travik's binary margins "pairs" and "triples", layout 2 "second_order" and
    // "third_order"; layout 3 gives category labels where the count was. The fixture is a
    // layout-3 file, and all read alike.
    void bothLayoutsOfATravikFileRead() {
        const QByteArray second = fixture("travik.json");
        QVERIFY(second.contains("\"schema_version\": 3"));
        QByteArray first = second;
        first.replace("\"schema_version\": 3", "\"schema_version\": 1");
        // The count under "categories", as before layout 3.
        QString older = QString::fromUtf8(first);
        older.replace(QRegularExpression(R"("category_count": (\d+),\s*"categories": \[[^\]]*\])"),
                      R"("categories": \1)");
        QVERIFY(!older.contains("category_count"));
        first = older.toUtf8();
        const qsizetype binary = first.indexOf("\"binary\": {", first.indexOf("\"margins\""));
        QVERIFY(binary > 0);
        first.replace(first.indexOf("\"second_order\"", binary), 14, "\"pairs\"");
        first.replace(first.indexOf("\"third_order\"", binary), 13, "\"triples\"");
        const QJsonObject margins = QJsonDocument::fromJson(first)["margins"]["binary"].toObject();
        QCOMPARE(margins.keys(), (QStringList{"pairs", "triples"}));

        QStringList shown;
        for (const QByteArray& text : {first, second}) {
            const ResultsRead read = parseResults(text, "travik.json");
            QVERIFY2(read.results, qPrintable(read.problem));
            shown << tabSeparated(summaryTable({RunEnding::Converged, QString()}, &*read.results)) +
                         tabSeparated(estimatesTable(*read.results));
        }
        QVERIFY(shown[0].contains("Loglikelihood\t") && shown[0].contains("\tloading 2\t"));
        QCOMPARE(shown[0], shown[1]);
    }

    void classEstimatesMatchTheJson() {
        const QJsonObject json = fixtureObject("ploven.json");
        const FitResults results = parsed(fixture("ploven.json"));
        const int classes = json["model"]["classes"].toInt();
        const QJsonArray items = json.value("items").toArray();
        QVERIFY(classes >= 3 && json["standard_errors"].toString() == "computed");
        QCOMPARE(results.classes, classes);
        TableModel model(estimatesTable(results));
        QCOMPARE(model.columnCount(), 1 + 2 * classes);
        QCOMPARE(model.rowCount(), 1 + int(items.size()));
        QCOMPARE(model.headerData(2 * classes, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString("SE %1").arg(classes));

        const QJsonArray eta = json.value("eta").toArray();
        QCOMPARE(cell(model, 0, 0).toString(), QString("class size"));
        for (int k = 0; k < classes; ++k) {
            QCOMPARE(cell(model, 0, 1 + 2 * k), jsonCell(eta[k], "estimate"));
            QCOMPARE(cell(model, 0, 2 + 2 * k), jsonCell(eta[k], "standard_error"));
        }
        for (int j = 0; j < int(items.size()); ++j) {
            QCOMPARE(cell(model, 1 + j, 0).toString(), items[j]["name"].toString());
            const QJsonArray pi = items[j]["parameters"].toArray();
            for (int k = 0; k < classes; ++k) {
                QCOMPARE(pi[k]["key"].toString(), QString("class_%1").arg(k + 1));
                QCOMPARE(cell(model, 1 + j, 1 + 2 * k), jsonCell(pi[k], "estimate"));
                QCOMPARE(cell(model, 1 + j, 2 + 2 * k), jsonCell(pi[k], "standard_error"));
            }
        }
    }

    void summaryShowsTheFitFigures() {
        const QJsonObject json = fixtureObject("ploven.json");
        const FitResults results = parsed(fixture("ploven.json"));
        const Table table = summaryTable({RunEnding::Converged, QString()}, &results);
        QCOMPARE(figure(table, "Status").toString(), QString("converged"));
        QCOMPARE(figure(table, "Title").toString(), json["title"].toString());
        const std::pair<const char*, const char*> figures[] = {{"loglikelihood", "Loglikelihood"},
                                                               {"aic", "AIC"},
                                                               {"bic", "BIC"},
                                                               {"sabic", "SABIC"},
                                                               {"entropy_r2", "Entropy R²"},
                                                               {"cycles", "Cycles"},
                                                               {"parameters", "Parameters"}};
        for (const auto& [key, name] : figures)
            QCOMPARE(figure(table, name).toDouble(), json.value(key).toDouble());
        QCOMPARE(figure(table, "Classes").toLongLong(), qint64(json["model"]["classes"].toInt()));
        QCOMPARE(figure(table, "Cases").toLongLong(), qint64(json["data"]["cases"].toInt()));
        // Standard errors are named only when they are missing.
        QVERIFY(!figure(table, "Standard errors").isValid());
        QByteArray without = fixture("ploven.json");
        without.replace("\"standard_errors\": \"computed\"",
                        "\"standard_errors\": \"not_available\"");
        const FitResults unknown = parsed(without);
        QCOMPARE(
            figure(summaryTable({RunEnding::Converged, QString()}, &unknown), "Standard errors")
                .toString(),
            QString("not available"));

        // A trait result has factors and no entropy; a failed run without results shows its
        // status alone.
        const FitResults trait = parsed(fixture("travik.json"));
        const Table traitTable = summaryTable({RunEnding::Converged, QString()}, &trait);
        QVERIFY(!figure(traitTable, "Entropy R²").isValid());
        QVERIFY(!figure(traitTable, "Message").isValid()); // null for a converged run
        QCOMPARE(figure(traitTable, "Factors").toLongLong(),
                 qint64(fixtureObject("travik.json").value("model")["factors"].toInt()));
        const Table failed =
            summaryTable({RunEnding::Failed, "travik: deck.inp line 3: bad"}, nullptr);
        QCOMPARE(failed.rows.size(), std::size_t(2));
        QCOMPARE(figure(failed, "Message").toString(), QString("travik: deck.inp line 3: bad"));
    }

    // What an analyst reads first: the cases used and left out, the full-pattern statistics
    // where they are valid, how often the best loglikelihood was found.
    void summaryShowsCasesPatternFitAndStarts() {
        const QJsonObject json = fixtureObject("ploven.json");
        const FitResults classes = parsed(fixture("ploven.json"));
        const Table table = summaryTable({RunEnding::Converged, QString()}, &classes);
        const QJsonObject full = json["fit"]["full_table"].toObject();
        QCOMPARE(figure(table, "G² (likelihood ratio)").toDouble(),
                 full["likelihood_ratio"].toDouble());
        QCOMPARE(figure(table, "X² (Pearson)").toDouble(), full["chi_square"].toDouble());
        QCOMPARE(figure(table, "G² and X² df").toDouble(), full["degrees_of_freedom"].toDouble());
        const QJsonObject starts = json["starts"].toObject();
        QCOMPARE(figure(table, "Best loglikelihood found").toString(),
                 QString("%1 of %2 runs (%3 random starts)")
                     .arg(starts["replicated"].toInt())
                     .arg(starts["runs"].toArray().size())
                     .arg(starts["random_starts"].toInt()));
        QVERIFY(!figure(table, "Cases left out").isValid()); // a deck: none

        // travik: the statistics measure nothing for mixed items; the file's reason instead.
        const QJsonObject traitJson = fixtureObject("travik.json");
        const FitResults trait = parsed(fixture("travik.json"));
        const Table traitTable = summaryTable({RunEnding::Converged, QString()}, &trait);
        QCOMPARE(figure(traitTable, "G² and X²").toString(),
                 "not given — " + traitJson["goodness_of_fit"]["reason"].toString());
        QVERIFY(!figure(traitTable, "G² (likelihood ratio)").isValid());
        QCOMPARE(figure(traitTable, "Cases left out").toString(),
                 QString("0 of %1 in the data").arg(traitJson["data"]["cases_in_input"].toInt()));
        // A valid block of a binary model, with cases left out and some with missing values.
        const FitResults binary = parsed(head("travik", R"(, "data": {"cases_in_input": 120,
            "cases": 117, "cases_left_out": 3, "cases_with_missing": 9}, "goodness_of_fit":
            {"valid": true, "reason": null, "likelihood_ratio": 25.5,
             "chi_square_observed_patterns": 20.25, "chi_square_all_patterns": 24.75,
             "degrees_of_freedom": 24})"));
        const Table binaryTable = summaryTable({RunEnding::Converged, QString()}, &binary);
        QCOMPARE(figure(binaryTable, "Cases").toLongLong(), qint64(117));
        QCOMPARE(figure(binaryTable, "Cases left out").toString(), QString("3 of 120 in the data"));
        QCOMPARE(figure(binaryTable, "Cases with a missing value").toLongLong(), qint64(9));
        QCOMPARE(figure(binaryTable, "G² (likelihood ratio)").toDouble(), 25.5);
        QCOMPARE(figure(binaryTable, "X² (Pearson)").toDouble(), 24.75);
        QCOMPARE(figure(binaryTable, "G² and X² df"), QVariant(qint64(24))); // a count
        // Older files without these blocks show none of them.
        const FitResults old = parsed(head("ploven", R"(, "model": {"classes": 1})"));
        const Table oldTable = summaryTable({RunEnding::Converged, QString()}, &old);
        for (const char* name :
             {"G² and X²", "G² (likelihood ratio)", "Best loglikelihood found", "Cases left out"})
            QVERIFY2(!figure(oldTable, name).isValid(), name);
    }

    void standardizedLoadingsAndCategoryLabels() {
        // Every standardized loading of the file, one row per item or nominal category.
        const QJsonArray items = fixtureObject("travik.json")["items"].toArray();
        const FitResults trait = parsed(fixture("travik.json"));
        const Table table = standardizedLoadingsTable(trait);
        QCOMPARE(table.headers.mid(4), (QStringList{"Factor 1", "Factor 2"}));
        qsizetype loadings = 0, shown = 0;
        for (const QJsonValue item : items)
            loadings += item["standardized_loadings"].toArray().size();
        for (const auto& row : table.rows)
            for (std::size_t c = 4; c < row.size(); ++c) shown += row[c].isValid() ? 1 : 0;
        QCOMPARE(shown, loadings);
        const QJsonValue nominal = items[6];
        QCOMPARE(nominal["type"].toString(), QString("nominal"));
        for (const auto& row : table.rows)
            if (row[0].toLongLong() == nominal["number"].toInt() &&
                row[3].toString() == "category 2 loading")
                QCOMPARE(row[4].toDouble(),
                         nominal["standardized_loadings"][0]["estimate"].toDouble());

        // Labels, where the file has them, name the categories and thresholds; a normal item's
        // variance is its residual variance.
        QJsonObject root = fixtureObject("travik.json");
        QJsonArray all = root["items"].toArray();
        QJsonObject seventh = all[6].toObject();
        seventh["categories"] = QJsonArray{"red", "green", "blue"};
        all[6] = seventh;
        root["items"] = all;
        const QByteArray labelled = QJsonDocument(root).toJson();
        const FitResults withLabels = parsed(labelled);
        const ItemResult& item = withLabels.items[6];
        QCOMPARE(item.categoryLabels, (QStringList{"red", "green", "blue"}));
        const Table estimates = estimatesTable(withLabels);
        QStringList captions;
        for (const auto& row : estimates.rows)
            if (row[0].toLongLong() == item.number) captions << row[3].toString();
        QVERIFY2(captions.contains("category \"green\" intercept") &&
                     captions.contains("category \"blue\" loading 1"),
                 qPrintable(captions.join('|')));
        QVERIFY(figureOfKey(estimatesTable(trait), "residual variance"));
        const ItemCurves curves = itemCurves(item, 0);
        QCOMPARE(curves.curves[2].name, QString("blue"));
        // Without labels the categories keep their numbers.
        QCOMPARE(itemCurves(trait.items[6], 0).curves[2].name, QString("category 3"));
        const ItemResult ordinal = [&] {
            ItemResult o;
            o.type = ItemType::Ordinal;
            o.categories = 3;
            o.categoryLabels = {"low", "mid", "high"};
            o.parameters = {
                {"threshold_1", {-1, {}}}, {"threshold_2", {1, {}}}, {"loading1", {1, {}}}};
            return o;
        }();
        FitResults one;
        one.program = "travik";
        one.items = {ordinal};
        QCOMPARE(estimatesTable(one).rows[1][3].toString(), QString("threshold 2 (mid | high)"));
    }

    void classProfilesOfItemsWithCategoriesAndBivariateResiduals() {
        const QJsonObject json = fixtureObject("ploven-polytomous.json");
        const FitResults results = parsed(fixture("ploven-polytomous.json"));
        QCOMPARE(results.items.size(), std::size_t(3));
        QCOMPARE(results.items[1].categoryLabels, (QStringList{"calm", "tense", "angry"}));
        // A profile per item: the categories by their labels, a line per class.
        const ChartData mood = categoryProfileChart(results, 1);
        QCOMPARE(mood.categories, (QStringList{"calm", "tense", "angry"}));
        QCOMPARE(mood.lines.size(), std::size_t(2));
        const QJsonArray second = json["items"][1]["class_probabilities"][1].toArray();
        for (int c = 0; c < 3; ++c)
            QCOMPARE(mood.lines[1].points[std::size_t(c)], QPointF(c + 1, second[c].toDouble()));
        QCOMPARE(categoryProfileChart(results, 2).categories.size(), qsizetype(4));
        // The binary item keeps its place in the profile of all binary items.
        const ChartData binary = classProfileChart(results);
        QCOMPARE(binary.categories, QStringList{"smokes"});
        QCOMPARE(binary.lines[1].points, (std::vector<QPointF>{{1, 0.7}}));
        // Summary: the CSV run's cases left out, the full table not given, the starts.
        const Table summary = summaryTable({RunEnding::Converged, QString()}, &results);
        QCOMPARE(figure(summary, "Cases left out").toLongLong(), qint64(10));
        QCOMPARE(figure(summary, "Cases with a missing value").toLongLong(), qint64(25));
        // Before layout 3 the cases with a missing value were those left out.
        QByteArray older = fixture("ploven-polytomous.json");
        older.replace(", \"cases_left_out\": 10", "");
        const FitResults before = parsed(older);
        QCOMPARE(before.casesLeftOut, std::optional<qint64>(25));
        QVERIFY(!before.casesWithMissing);
        QVERIFY(!figure(summary, "G² and X²").isValid()); // none for items of categories
        QByteArray zeros = fixture("ploven.json");
        const qsizetype at = zeros.indexOf("\"full_table\": {");
        zeros.replace(at, zeros.indexOf('}', at) - at + 1, "\"full_table\": null");
        const FitResults warned = parsed(zeros);
        QVERIFY(figure(summaryTable({RunEnding::Converged, QString()}, &warned), "G² and X²")
                    .toString()
                    .startsWith("not given — patterns of zero expected frequency"));
        QCOMPARE(figure(summary, "Best loglikelihood found").toString(), QString("2 of 3 runs"));
        // An item of three categories: a row per category, with the file's standard errors.
        const Table estimates = estimatesTable(results);
        QCOMPARE(estimates.rows.size(), std::size_t(1 + 1 + 3 + 4));
        QCOMPARE(estimates.rows[3][0].toString(), QString("mood = tense"));
        QCOMPARE(estimates.rows[3][3].toDouble(), 0.3);
        QCOMPARE(estimates.rows[4][2].toDouble(), 0.03); // class 1's SE of "angry"
        QVERIFY(!estimates.rows[6][2].isValid());        // sleep: none in the file
        const Table residuals = bivariateResidualsTable(results);
        QCOMPARE(residuals.rows.size(), std::size_t(3));
        QCOMPARE(residuals.rows[1][0].toString() + "|" + residuals.rows[1][1].toString(),
                 QString("smokes|sleep"));
        QCOMPARE(residuals.rows[1][2].toDouble(), 3.9);
        // A probability list of the wrong length is named.
        QByteArray broken = fixture("ploven-polytomous.json");
        broken.replace("[[0.6, 0.3, 0.1], [0.1, 0.3, 0.6]]", "[[0.6, 0.3, 0.1], [0.1, 0.9]]");
        const ResultsRead read = parseResults(broken, "ploven.json");
        QVERIFY2(!read.results && read.problem.contains("item 2: class 2 has 2 category "
                                                        "probabilities for 3 categories"),
                 qPrintable(read.problem));
    }

    void classCountComparison() {
        const ComparisonRead read = parseComparison(fixture("ploven-comparison.json"), "c.json");
        QVERIFY2(read.problem.isEmpty(), qPrintable(read.problem));
        QCOMPARE(read.rows.size(), std::size_t(3));
        const Table table = comparisonTable(read.rows);
        QCOMPARE(table.rows[1][0].toLongLong(), qint64(2));
        QCOMPARE(table.rows[1][4].toDouble(), 5514.3);
        const qsizetype mark = table.headers.indexOf("Smallest BIC");
        QCOMPARE(mark, qsizetype(5)); // beside the BIC
        QVERIFY(!table.rows[0][std::size_t(table.headers.indexOf("Entropy R²"))].isValid() &&
                !table.rows[0][std::size_t(table.headers.indexOf("BLRT p"))].isValid()); // nulls
        QStringList marked;
        for (const auto& row : table.rows) marked << (row[std::size_t(mark)].isValid() ? "x" : "-");
        QCOMPARE(marked.join(""), QString("-x-"));
        const ChartData chart = comparisonChart(read.rows);
        QCOMPARE(chart.lines[0].name, QString("BIC"));
        QCOMPARE(chart.lines[0].points,
                 (std::vector<QPointF>{{1, 5822.4}, {2, 5514.3}, {3, 5518.1}}));
        // Faults are named with the row.
        QCOMPARE(
            parseComparison(R"({"rows": [{"classes": 1}, {"classes": "two"}]})", "c.json").problem,
            QString("c.json: row 2: \"classes\" is not a number"));
        QVERIFY(parseComparison("{}", "c.json").problem.contains("no \"rows\""));
    }

    void modelFitAndRotatedLoadings() {
        // The real two-factor fit of mixed items: no limited-information fit or item fit (their
        // reasons shown), and its oblimin loadings row by row with the factor correlation.
        const QJsonObject json = fixtureObject("travik.json");
        const FitResults mixed = parsed(fixture("travik.json"));
        const Table summary = summaryTable({RunEnding::Converged, QString()}, &mixed);
        QCOMPARE(figure(summary, "Limited-information fit").toString(),
                 "not available — " + json["limited_information_fit"]["reason"].toString());
        QCOMPARE(figure(summary, "Item fit").toString(),
                 "not available — " + json["item_fit_reason"].toString());
        QCOMPARE(figure(summary, "Factor correlation (oblimin)").toDouble(),
                 json["rotation"]["factor_correlation"].toDouble());
        const QJsonArray rows = json["rotation"]["items"].toArray();
        const Table rotated = rotatedLoadingsTable(mixed);
        QCOMPARE(rotated.rows.size(), std::size_t(rows.size()));
        QVERIFY(rows.size() > 0);
        for (qsizetype r = 0; r < rows.size(); ++r) {
            const auto& shown = rotated.rows[std::size_t(r)];
            QCOMPARE(shown[0].toString(), rows[r]["item"].toString());
            QCOMPARE(shown[1].isValid(), rows[r].toObject().contains("category"));
            QCOMPARE(shown[2].toDouble(), rows[r]["loadings"][0].toDouble());
            QCOMPARE(shown[3].toDouble(), rows[r]["loadings"][1].toDouble());
        }
        QVERIFY(itemFitTable(mixed).rows.empty());

        // A binary model's figures and item fit, as travik writes them.
        const FitResults binary = parsed(head("travik", R"(, "limited_information_fit":
            {"available": true, "reason": null, "statistic": "M2", "value": 16.9,
             "degrees_of_freedom": 20, "p": 0.66, "rmsea": 0.0, "rmsea_90": [0.0, 0.025],
             "srmsr": 0.022, "cfi": 1.0, "tli": 1.004},
            "item_fit": [{"item": "q1", "s_x2": 7.07, "df": 5, "p": 0.215, "rmsea": 0.023},
                         {"item": "q2", "s_x2": null, "df": null, "p": null, "rmsea": null}],
            "rotation": null)"));
        const Table figures = summaryTable({RunEnding::Converged, QString()}, &binary);
        QCOMPARE(figure(figures, "M2").toDouble(), 16.9);
        QCOMPARE(figure(figures, "M2 df").toLongLong(), qint64(20));
        QCOMPARE(figure(figures, "RMSEA 90% interval").toString(),
                 shownCell(0.0) + " – " + shownCell(0.025));
        QCOMPARE(figure(figures, "TLI").toDouble(), 1.004);
        QVERIFY(!figure(figures, "Item fit").isValid() &&
                !figure(figures, "Factor correlation (oblimin)").isValid());
        const Table items = itemFitTable(binary);
        QCOMPARE(items.rows.size(), std::size_t(2));
        QCOMPARE(items.rows[0][1].toDouble(), 7.07);
        QCOMPARE(items.rows[0][2].toLongLong(), qint64(5));
        QVERIFY(!items.rows[1][1].isValid()); // no statistic: an empty cell, not 0
        QVERIFY(!binary.rotation);
    }

    void checkOfTheMaximumAndStandardErrors() {
        // travik's check of a real fit; its verdict comes right below the status.
        const QJsonObject check = fixtureObject("travik.json")["convergence"].toObject();
        const FitResults results = parsed(fixture("travik.json"));
        QVERIFY(results.convergence && results.convergence->certified);
        QCOMPARE(results.convergence->newtonSteps.value_or(-1), check["newton_steps"].toInteger());
        QCOMPARE(results.standardErrors, QString("computed"));
        const Table table = summaryTable({RunEnding::Converged, QString()}, &results);
        QCOMPARE(table.rows[1][0].toString() + ": " + table.rows[1][1].toString(),
                 "Maximum: certified (remaining gain " +
                     QString::number(check["remaining_gain"].toDouble(), 'E', 1) + ")");
        // The convergence figures: how many cycles and steps, and the gradient left.
        QCOMPARE(figure(table, "Convergence").toString(),
                 QString("%1 %2EM cycles, %3 Newton step%4")
                     .arg(check["em_cycles"].toInt())
                     .arg(check["accelerated"].toBool() ? "accelerated " : "")
                     .arg(check["newton_steps"].toInt())
                     .arg(check["newton_steps"].toInt() == 1 ? "" : "s"));
        QCOMPARE(figure(table, "Largest gradient").toDouble(),
                 check["largest_gradient"].toDouble());
        // Not certified and without standard errors: both say why.
        QByteArray text = head("travik", R"(, "convergence": {"certified": false,
            "reason": "no step raised it"}, "standard_errors": "not_available",
            "standard_errors_reason": "singular information")");
        const FitResults uncertain = parsed(text.replace("\"converged\"", "\"not_certified\""));
        QCOMPARE(uncertain.status, QString("not_certified"));
        const Table shown = summaryTable({RunEnding::NoConvergence, QString()}, &uncertain);
        QCOMPARE(figure(shown, "Maximum").toString(), QString("not certified — no step raised it"));
        QCOMPARE(figure(shown, "Standard errors").toString(),
                 QString("not available — singular information"));
    }

    void endingsWrittenInTheFile() {
        QByteArray text = fixture("travik.json");
        QVERIFY(text.contains("\"message\": null"));
        text.replace("\"converged\"", "\"max_cycles\"")
            .replace("\"message\": null", "\"message\": \"no convergence within 500 cycles\"");
        const FitResults results = parsed(text);
        QCOMPARE(results.status, QString("max_cycles"));
        QCOMPARE(results.message, QString("no convergence within 500 cycles"));

        // ploven's rejected deck: the head, the model and the data as far as they were read.
        const FitResults rejected = parsed(R"({"schema_version": 1, "program": "ploven",
            "version": "1.1.0", "title": "Bad answers", "status": "rejected",
            "message": "** ERROR: NON-BINARY VARIABLE **  OBS=   2 VAR=  2 VALUE=2",
            "model": {"classes": 1, "items": 3}, "data": {"source": "deck", "input": "cases",
            "records": 3, "cases": null, "patterns": null, "cases_with_missing": 0}})");
        QCOMPARE(rejected.status, QString("rejected"));
        QVERIFY(rejected.message.startsWith("** ERROR: NON-BINARY VARIABLE"));
        QVERIFY(!rejected.cases && rejected.items.empty() && rejected.classSizes.empty());
        QCOMPARE(TableModel(estimatesTable(rejected)).rowCount(), 0);

        // travik's diverged run: estimates that were not finite are null, shown as n/a, never
        // as 0; no standard errors.
        const FitResults nulls = parsed(head("travik", R"(, "items": [{"number": 1,
            "name": "item 1", "type": "binary", "number_in_type": 1, "parameters": [
            {"key": "intercept", "estimate": null, "standard_error": null}]}])"));
        TableModel model(estimatesTable(nulls));
        QCOMPARE(cell(model, 0, 4, Qt::DisplayRole).toString(), QString("n/a"));
        QCOMPARE(cell(model, 0, 5, Qt::DisplayRole).toString(), QString());
    }

    void filesNotInTheLayoutAreNamedWithWhatIsWrong_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("problem");
        const QByteArray binary = R"("number": 1, "name": "a", "type": "binary")";
        QTest::newRow("not JSON") << QByteArray("{\"status\": \"converged\", ")
                                  << "r.json is not valid JSON (at byte";
        QTest::newRow("not an object")
            << QByteArray("[1, 2]") << "r.json does not hold a JSON object";
        QTest::newRow("no version") << QByteArray(R"({"program": "travik", "status": "converged"})")
                                    << "r.json: there is no \"schema_version\"";
        QTest::newRow("later version")
            << QByteArray(R"({"schema_version": 4, "program": "travik", "status": "converged"})")
            << "r.json: it is in results layout version 4; this oruk reads versions 1 to 3";
        QTest::newRow("another program") << head("lca", "") << "\"program\" is \"lca\"";
        QTest::newRow("no status") << QByteArray(R"({"schema_version": 1, "program": "travik"})")
                                   << "r.json: there is no \"status\"";
        QTest::newRow("a count as text")
            << head("travik", R"(, "cycles": "43")") << "r.json: \"cycles\" is not a number";
        QTest::newRow("unknown type")
            << head("travik", R"(, "items": [{"number": 1, "type": "strange"}])")
            << "r.json: item 1 has the unknown type \"strange\"";
        QTest::newRow("nominal without categories")
            << head("travik", R"(, "items": [{"number": 7, "type": "nominal", "parameters": []}])")
            << "r.json: item 7 (nominal) has no valid \"categories\"";
        QTest::newRow("parameter without key")
            << head("travik",
                    R"(, "items": [{)" + binary + R"(, "parameters": [{"estimate": 1}]}])")
            << "r.json: item 1 parameter 1 has no \"key\"";
        QTest::newRow("estimates as an object")
            << head("travik", R"(, "items": [{)" + binary + R"(, "parameters": {"intercept": 1}}])")
            << "r.json: item 1: \"parameters\" is not an array";
        QTest::newRow("guessed class table, no class keys")
            << head("ploven", R"(, "model": {"classes": 2}, "items": [{)" + binary +
                                  R"(, "parameters": [{"key": "pi_1", "estimate": 0.9},
                                  {"key": "pi_2", "estimate": 0.2}]}])")
            << "r.json: item 1 has \"pi_1\" where \"class_1\" belongs";
        QTest::newRow("check not an object")
            << head("travik", R"(, "convergence": true)") << "\"convergence\" is not an object";
        QTest::newRow("verdict as text")
            << head("travik", R"(, "convergence": {"certified": "yes"})")
            << "convergence: \"certified\" is not true or false";
        QTest::newRow("a class missing")
            << head("ploven", R"(, "model": {"classes": 3}, "eta": [{"key": "class_1",
                    "estimate": 0.5}, {"key": "class_2", "estimate": 0.5}])")
            << "r.json: eta has 2 class values for 3 classes";
    }

    void filesNotInTheLayoutAreNamedWithWhatIsWrong() {
        QFETCH(QByteArray, text);
        QFETCH(QString, problem);
        const ResultsRead read = parseResults(text, "r.json");
        QVERIFY(!read.results);
        QVERIFY2(read.problem.startsWith(problem) || read.problem.contains(problem),
                 qPrintable(read.problem));
    }

    void casesFileAndClipboardText() {
        const QByteArray text = fixture("ploven-cases.csv");
        const QList<QByteArray> lines = text.trimmed().split('\n');
        const CasesRead read = casesTable(text, "ploven-cases.csv");
        QVERIFY(read.problem.isEmpty());
        TableModel cases(read.table);
        QCOMPARE(cases.rowCount(), int(lines.size()) - 1);
        QCOMPARE(
            cases.columnCount(),
            3 + fixtureObject("ploven.json").value("model")["classes"].toInt()); // case, id, class
        QCOMPARE(cases.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QString("p_1"));
        for (int row : {0, 1, int(lines.size()) - 2}) {
            const QList<QByteArray> fields = lines[row + 1].split(',');
            for (int c = 0; c < cases.columnCount(); ++c)
                QCOMPARE(cell(cases, row, c).toDouble(), fields[c].toDouble());
        }

        // Case numbers and classes are shown as whole numbers, identifiers as the file has them.
        QCOMPARE(cell(cases, 0, 0, Qt::DisplayRole).toString(), QString(lines[1].split(',')[0]));
        QCOMPARE(cell(cases, 0, 2, Qt::DisplayRole).toString(), QString(lines[1].split(',')[2]));
        QCOMPARE(cell(cases, 0, 1).typeId(), QMetaType::QString);
        const Table ids =
            casesTable("case,id,p_1\r\n1,007, 0.5\r\n2,,0.25\r\n3,\"a,b\",1e-3\r\n", "c.csv").table;
        QCOMPARE(shownCell(ids.rows[0][1]) + "|" + shownCell(ids.rows[0][2]),
                 QString("007|0.5000"));
        QVERIFY(!ids.rows[1][1].isValid()); // an empty cell stays empty
        QCOMPARE(ids.rows[2][1].toString() + "|" + QString::number(ids.rows[2][2].toDouble()),
                 QString("a,b|0.001"));
        // A CSV run's identifiers under the data's own column name stay labels too.
        const Table named = casesTable("case,person,class,p_1\n1,0042,1,0.5\n", "c.csv").table;
        QCOMPARE(named.rows[0][1], QVariant(QString("0042")));
        QCOMPARE(named.rows[0][2], QVariant(qint64(1)));
        const Table scores = casesTable("case,mean_1,sd_1\n1,0.5,0.25\n", "c.csv").table;
        QCOMPARE(scores.rows[0][1].typeId(), QMetaType::Double);
        // A file the estimators' reader refuses gives no table and says where.
        const CasesRead broken = casesTable("case,class\n1,2\n2\n", "c.csv");
        QVERIFY(broken.table.headers.isEmpty() && broken.table.rows.empty());
        QCOMPARE(
            broken.problem,
            QString("c.csv line 3, column 2 (\"class\"): the record ends after 1 of 2 fields"));

        // The clipboard holds every digit the file has, tab-separated.
        const QStringList copied = tabSeparated(cases.table()).split('\n');
        QCOMPARE(copied.size(), int(lines.size()) + 1); // and the final line end
        QCOMPARE(copied[0], QString::fromLatin1(lines[0]).replace(',', '\t'));
        QCOMPARE(copied[1], QString::fromLatin1(lines[1]).replace(',', '\t'));
        const QJsonObject json = fixtureObject("travik.json");
        const FitResults results = parsed(fixture("travik.json"));
        QVERIFY(tabSeparated(summaryTable({RunEnding::Converged, ""}, &results))
                    .contains("Loglikelihood\t" +
                              QString::number(json["loglikelihood"].toDouble(), 'g',
                                              QLocale::FloatingPointShortest) +
                              "\n"));
        // A text cell keeps its tab or line break from splitting the row.
        const Table texts{{"a", "b"}, {{QString("x\ty"), QString("two\nlines")}}};
        QCOMPARE(tabSeparated(texts), QString("a\tb\nx y\ttwo lines\n"));
    }
};

QTEST_GUILESS_MAIN(ResultsTest)
#include "results_test.moc"
