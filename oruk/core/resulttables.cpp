#include "oruk/core/resulttables.hpp"

#include "csvio/cells.hpp"
#include "csvio/read.hpp"
#include "oruk/core/readermessage.hpp"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace oruk {

namespace {

QVariant cellOf(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant();
}

QVariant cellOf(const std::optional<qint64>& value) {
    return value ? QVariant(*value) : QVariant();
}

// "category_2.loading1" -> "category 2 loading 1", "threshold_1" -> "threshold 1", "variance"
// -> "residual variance" (a normal item's variance is that of its error); a nominal category
// and an ordinal threshold are named by the item's category labels when the file has them.
QString parameterCaption(const QString& key, const ItemResult& item) {
    if (key == QLatin1String("variance")) return QStringLiteral("residual variance");
    QString caption = key;
    const QLatin1String category("category_"), threshold("threshold_");
    // A deck's categories are labelled by their numbers, which the keys already give.
    const bool ownLabels = item.hasOwnLabels();
    if (ownLabels && key.startsWith(category)) {
        const qsizetype dot = key.indexOf(QLatin1Char('.'));
        bool ok = false;
        const int c = key.mid(category.size(), dot - category.size()).toInt(&ok);
        if (ok)
            caption = QStringLiteral("category \"%1\"").arg(item.categoryLabel(c)) +
                      (dot > 0 ? QLatin1Char('.') + key.mid(dot + 1) : QString());
    } else if (ownLabels && key.startsWith(threshold)) {
        bool ok = false;
        const int j = key.mid(threshold.size()).toInt(&ok);
        // Threshold j lies between categories j and j + 1.
        if (ok)
            return QStringLiteral("threshold %1 (%2 | %3)")
                .arg(j)
                .arg(item.categoryLabel(j), item.categoryLabel(j + 1));
    }
    caption.replace(QLatin1Char('_'), QLatin1Char(' ')).replace(QLatin1Char('.'), QLatin1Char(' '));
    const QLatin1String loading("loading");
    for (qsizetype at = caption.indexOf(loading); at >= 0; at = caption.indexOf(loading, at + 1)) {
        const qsizetype next = at + loading.size();
        if (next < caption.size() && caption[next].isDigit())
            caption.insert(next, QLatin1Char(' '));
    }
    return caption;
}

// The check's verdict on the maximum: "certified (remaining gain 2.8E-11)", or "not certified —
// <reason>".
QString maximumVerdict(const ConvergenceCheck& check) {
    if (check.certified)
        return check.remainingGain ? QStringLiteral("certified (remaining gain %1)")
                                         .arg(QString::number(*check.remainingGain, 'E', 1))
                                   : QStringLiteral("certified");
    return check.reason.isEmpty() ? QStringLiteral("not certified")
                                  : QStringLiteral("not certified — ") + check.reason;
}

} // namespace

Table summaryTable(const EndingShown& ending, const FitResults* results) {
    Table table{{QStringLiteral("Figure"), QStringLiteral("Value")}, {}};
    auto add = [&](const QString& name, const QVariant& value) {
        if (value.isValid()) table.rows.push_back({name, value});
    };
    add(QStringLiteral("Status"), endingWords(ending.ending));
    if (!ending.detail.isEmpty()) add(QStringLiteral("Message"), ending.detail);
    if (!results) return table;
    if (results->convergence) add(QStringLiteral("Maximum"), maximumVerdict(*results->convergence));
    if (!results->title.isEmpty()) add(QStringLiteral("Title"), results->title);
    add(QStringLiteral("Cases"), cellOf(results->cases));
    if (results->casesLeftOut && (*results->casesLeftOut > 0 || results->casesInInput))
        add(QStringLiteral("Cases left out"), results->casesInInput
                                                  ? QVariant(QStringLiteral("%1 of %2 in the data")
                                                                 .arg(*results->casesLeftOut)
                                                                 .arg(*results->casesInInput))
                                                  : QVariant(*results->casesLeftOut));
    if (results->casesWithMissing && *results->casesWithMissing > 0)
        add(QStringLiteral("Cases with a missing value"), *results->casesWithMissing);
    if (results->program == QLatin1String("ploven"))
        add(QStringLiteral("Classes"), qint64(results->classes));
    else if (results->factors > 0)
        add(QStringLiteral("Factors"), qint64(results->factors));
    add(QStringLiteral("Cycles"), cellOf(results->cycles));
    if (const auto& check = results->convergence) {
        // How the fit got there: the EM cycles (accelerated or not) and the Newton steps after
        // them, and the largest gradient left at the end.
        QStringList how;
        if (check->emCycles)
            how << QStringLiteral("%1 %2EM cycles")
                       .arg(*check->emCycles)
                       .arg(check->accelerated ? QStringLiteral("accelerated ") : QString());
        if (check->newtonSteps)
            how << (*check->newtonSteps == 1
                        ? QStringLiteral("1 Newton step")
                        : QStringLiteral("%1 Newton steps").arg(*check->newtonSteps));
        if (!how.isEmpty()) add(QStringLiteral("Convergence"), how.join(QStringLiteral(", ")));
        add(QStringLiteral("Largest gradient"), cellOf(check->largestGradient));
    }
    add(QStringLiteral("Loglikelihood"), cellOf(results->loglikelihood));
    add(QStringLiteral("Parameters"), cellOf(results->parameterCount));
    add(QStringLiteral("AIC"), cellOf(results->aic));
    add(QStringLiteral("BIC"), cellOf(results->bic));
    add(QStringLiteral("SABIC"), cellOf(results->sabic));
    add(QStringLiteral("Entropy R²"), cellOf(results->entropy));
    if (const auto& starts = results->starts)
        add(QStringLiteral("Best loglikelihood found"),
            QStringLiteral("%1 of %2 runs").arg(starts->replicated).arg(starts->runs) +
                (starts->randomStarts > 0
                     ? QStringLiteral(" (%1 random starts)").arg(starts->randomStarts)
                     : QString()));
    if (const auto& fit = results->patternFit) {
        if (fit->valid) {
            add(QStringLiteral("G² (likelihood ratio)"), cellOf(fit->likelihoodRatio));
            add(QStringLiteral("X² (Pearson)"), cellOf(fit->chiSquare));
            // A count, though the file may write it as a number with a fraction part.
            const auto df = fit->degreesOfFreedom;
            add(QStringLiteral("G² and X² df"),
                df && *df == std::trunc(*df) && std::fabs(*df) < 9.0e15
                    ? QVariant(static_cast<qint64>(*df))
                    : cellOf(df));
        } else {
            add(QStringLiteral("G² and X²"), QStringLiteral("not given — ") + fit->reason);
        }
    }
    if (const auto& fit = results->limitedFit) {
        if (fit->available) {
            add(fit->statistic, cellOf(fit->value));
            add(fit->statistic + QStringLiteral(" df"), cellOf(fit->df));
            add(fit->statistic + QStringLiteral(" p"), cellOf(fit->p));
            add(QStringLiteral("RMSEA"), cellOf(fit->rmsea));
            if (fit->rmseaLow && fit->rmseaHigh)
                add(QStringLiteral("RMSEA 90% interval"),
                    QStringLiteral("%1 – %2").arg(shownCell(*fit->rmseaLow),
                                                  shownCell(*fit->rmseaHigh)));
            add(QStringLiteral("SRMSR"), cellOf(fit->srmsr));
            add(QStringLiteral("CFI"), cellOf(fit->cfi));
            add(QStringLiteral("TLI"), cellOf(fit->tli));
        } else {
            add(QStringLiteral("Limited-information fit"),
                QStringLiteral("not available — ") + fit->reason);
        }
    }
    if (results->itemFit.empty() && !results->itemFitReason.isEmpty())
        add(QStringLiteral("Item fit"),
            QStringLiteral("not available — ") + results->itemFitReason);
    if (results->rotation && results->rotation->factorCorrelation)
        add(QStringLiteral("Factor correlation (%1)").arg(results->rotation->method),
            *results->rotation->factorCorrelation);
    // Said only when they are missing, so an empty SE column has its reason beside it.
    if (!results->standardErrors.isEmpty() &&
        results->standardErrors != QLatin1String("computed")) {
        QString why = QString(results->standardErrors).replace(QLatin1Char('_'), QLatin1Char(' '));
        if (!results->standardErrorsReason.isEmpty())
            why += QStringLiteral(" — ") + results->standardErrorsReason;
        add(QStringLiteral("Standard errors"), why);
    }
    return table;
}

Table estimatesTable(const FitResults& results) {
    Table table;
    if (results.program == QLatin1String("ploven")) {
        table.headers << QStringLiteral("Item");
        for (int k = 1; k <= results.classes; ++k)
            table.headers << QStringLiteral("Class %1").arg(k) << QStringLiteral("SE %1").arg(k);
        auto row = [&](const QString& name, auto estimateOfClass) {
            std::vector<QVariant> cells{name};
            for (int k = 0; k < results.classes; ++k) {
                const Estimate e = estimateOfClass(std::size_t(k));
                cells.push_back(e.value);
                cells.push_back(cellOf(e.standardError));
            }
            table.rows.push_back(std::move(cells));
        };
        // A file without estimates (a rejected deck) has no class sizes and no items.
        if (!results.classSizes.empty())
            row(QStringLiteral("class size"), [&](std::size_t k) { return results.classSizes[k]; });
        for (const ItemResult& item : results.items) {
            if (int(item.parameters.size()) == results.classes && item.categories == 2) {
                row(item.name, [&](std::size_t k) { return item.parameters[k].estimate; });
                continue;
            }
            // An item of more categories: a row per category, its probability in each class
            // with the standard error the file gives under "class_K:label".
            for (int c = 1;
                 c <=
                 int(item.classProbabilities.empty() ? 0 : item.classProbabilities.front().size());
                 ++c) {
                row(item.name + QStringLiteral(" = ") + item.categoryLabel(c), [&](std::size_t k) {
                    Estimate e{item.classProbabilities[k][std::size_t(c - 1)], std::nullopt};
                    if (const auto p = item.parameter(
                            QStringLiteral("class_%1:%2").arg(k + 1).arg(item.categoryLabel(c))))
                        e.standardError = p->standardError;
                    return e;
                });
            }
        }
        return table;
    }
    table.headers = {QStringLiteral("Item"),     QStringLiteral("Name"),
                     QStringLiteral("Type"),     QStringLiteral("Parameter"),
                     QStringLiteral("Estimate"), QStringLiteral("SE")};
    for (const ItemResult& item : results.items) {
        for (const Parameter& p : item.parameters) {
            table.rows.push_back({qint64(item.number), item.name, itemTypeName(item.type),
                                  parameterCaption(p.key, item), p.estimate.value,
                                  cellOf(p.estimate.standardError)});
        }
    }
    return table;
}

Table standardizedLoadingsTable(const FitResults& results) {
    Table table{{QStringLiteral("Item"), QStringLiteral("Name"), QStringLiteral("Type"),
                 QStringLiteral("Loading")},
                {}};
    const int factors = qMax(1, results.factors);
    for (int f = 1; f <= factors; ++f) table.headers << QStringLiteral("Factor %1").arg(f);
    for (const ItemResult& item : results.items) {
        // One row per loading set: the item's, or each nominal category's.
        std::vector<std::pair<QString, std::vector<QVariant>>> rows;
        for (const Parameter& p : item.standardizedLoadings) {
            const qsizetype at = p.key.lastIndexOf(QLatin1String("loading"));
            if (at < 0) continue;
            const QString set = p.key.left(at);
            const int f = p.key.mid(at + 7).toInt();
            if (f < 1 || f > factors) continue;
            auto row = std::find_if(rows.begin(), rows.end(),
                                    [&](const auto& r) { return r.first == set; });
            if (row == rows.end()) {
                rows.push_back({set, std::vector<QVariant>(std::size_t(factors))});
                row = rows.end() - 1;
            }
            row->second[std::size_t(f - 1)] = p.estimate.value;
        }
        for (auto& [set, loadings] : rows) {
            QString caption = set.isEmpty()
                                  ? QStringLiteral("loading")
                                  : parameterCaption(set + QStringLiteral("loading"), item);
            std::vector<QVariant> cells{qint64(item.number), item.name, itemTypeName(item.type),
                                        caption};
            cells.insert(cells.end(), loadings.begin(), loadings.end());
            table.rows.push_back(std::move(cells));
        }
    }
    return table;
}

Table bivariateResidualsTable(const FitResults& results) {
    Table table{{QStringLiteral("Item"), QStringLiteral("Item"), QStringLiteral("BVR")}, {}};
    for (const BivariateResidual& r : results.bivariateResiduals)
        table.rows.push_back({r.first, r.second, r.bvr});
    return table;
}

Table itemFitTable(const FitResults& results) {
    Table table{{QStringLiteral("Item"), QStringLiteral("S-X²"), QStringLiteral("df"),
                 QStringLiteral("p"), QStringLiteral("RMSEA")},
                {}};
    for (const ItemFitRow& row : results.itemFit)
        table.rows.push_back(
            {row.item, cellOf(row.statistic), cellOf(row.df), cellOf(row.p), cellOf(row.rmsea)});
    return table;
}

Table rotatedLoadingsTable(const FitResults& results) {
    Table table{{QStringLiteral("Item"), QStringLiteral("Category"), QStringLiteral("Factor 1"),
                 QStringLiteral("Factor 2")},
                {}};
    if (!results.rotation) return table;
    for (const RotatedLoadings::Row& row : results.rotation->rows) {
        // A nominal category by its label, where the results give labels of their own.
        QVariant category = cellOf(row.category);
        const auto item = std::find_if(results.items.begin(), results.items.end(),
                                       [&](const ItemResult& i) { return i.name == row.item; });
        if (row.category && item != results.items.end() && item->hasOwnLabels())
            category = item->categoryLabel(static_cast<int>(*row.category));
        table.rows.push_back({row.item, category, row.loading1, row.loading2});
    }
    return table;
}

CasesRead casesTable(const QByteArray& text, const QString& fileName) {
    CasesRead read;
    csvio::Table file;
    try {
        file = csvio::readCsv(kReaderProgram, fileName.toStdString(), text.toStdString());
    } catch (const latent::InputError& error) {
        read.problem = readerMessage(error);
        return read;
    }
    Table& table = read.table;
    for (const std::string& name : file.header) table.headers << QString::fromStdString(name);
    // Identifiers are labels ("007" stays "007"), whatever they look like.
    // The identifiers follow the case number, under the data's own column name (or "id");
    // the estimators' own columns there are "class" (ploven) and "mean_1" (travik).
    const bool ids = table.headers.size() > 2 && table.headers[0] == QLatin1String("case") &&
                     table.headers[1] != QLatin1String("class") &&
                     table.headers[1] != QLatin1String("mean_1");
    const qsizetype idColumn = ids ? 1 : table.headers.indexOf(QStringLiteral("id"));
    for (const csvio::Record& record : file.records) {
        std::vector<QVariant> cells;
        for (std::size_t c = 0; c < record.fields.size(); ++c) {
            const std::string_view trimmed = csvio::trimmed(record.fields[c]);
            const QString field = QString::fromUtf8(trimmed.data(), qsizetype(trimmed.size()));
            bool whole = false;
            const qint64 count = field.toLongLong(&whole);
            const std::optional<double> number = csvio::plainDecimal(trimmed);
            if (qsizetype(c) == idColumn || field.isEmpty() || (!whole && !number))
                cells.push_back(field.isEmpty() ? QVariant() : QVariant(field));
            else
                cells.push_back(whole ? QVariant(count) : QVariant(*number));
        }
        table.rows.push_back(std::move(cells));
    }
    return read;
}

QString shownCell(const QVariant& cell) {
    if (!cell.isValid()) return {};
    if (cell.typeId() == QMetaType::Double) {
        const double value = cell.toDouble();
        if (!std::isfinite(value)) return QStringLiteral("n/a");
        return QString::number(value, 'f', 4);
    }
    return cell.toString();
}

QString tabSeparated(const Table& table) {
    auto copied = [](const QVariant& cell) {
        if (cell.typeId() == QMetaType::Double && std::isfinite(cell.toDouble()))
            return QString::number(cell.toDouble(), 'g', QLocale::FloatingPointShortest);
        // A tab or line break inside a text would split the cell.
        return shownCell(cell)
            .replace(QLatin1Char('\t'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
    };
    QString text = table.headers.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const auto& row : table.rows) {
        QStringList cells;
        for (const QVariant& cell : row) cells << copied(cell);
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

QString csvText(const Table& table) {
    auto field = [](const QVariant& cell) {
        QString text = cell.typeId() == QMetaType::Double && std::isfinite(cell.toDouble())
                           ? QString::number(cell.toDouble(), 'g', QLocale::FloatingPointShortest)
                           : shownCell(cell);
        if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
            text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
            text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                   QLatin1Char('"');
        return text;
    };
    QStringList header;
    for (const QString& name : table.headers) header << field(name);
    QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const auto& row : table.rows) {
        QStringList cells;
        for (const QVariant& cell : row) cells << field(cell);
        text += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text;
}

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(table_.rows.size());
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(table_.headers.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const auto& row = table_.rows[std::size_t(index.row())];
    QVariant cell = // not const: returned by move
        index.column() < int(row.size()) ? row[std::size_t(index.column())] : QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return shownCell(cell);
    case Qt::ToolTipRole: // the whole text of a cell too narrow for it
        return cell.typeId() == QMetaType::QString ? cell : QVariant();
    case Qt::UserRole:
        return cell;
    case Qt::TextAlignmentRole:
        return cell.typeId() == QMetaType::QString || numbersLeft_
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    return section < table_.headers.size() ? QVariant(table_.headers[section]) : QVariant();
}

} // namespace oruk
