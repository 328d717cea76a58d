#include "oruk/core/csvimport.hpp"

#include "csvio/cells.hpp"
#include "csvio/read.hpp"
#include "oruk/core/readermessage.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace oruk {

namespace {

QStringList columnsIn(const CsvImportChoice& choice, ColumnRole role) {
    QStringList names;
    for (std::size_t i = 0; i < choice.roles.size() && i < std::size_t(choice.columns.size()); ++i)
        if (choice.roles[i] == role) names << choice.columns[qsizetype(i)];
    return names;
}

QString shortest(double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

CsvHeader readCsvHeader(const QString& path) {
    CsvHeader header;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        header.problem = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return header;
    }
    try {
        const csvio::Table table = csvio::readCsv(
            kReaderProgram, QFileInfo(path).fileName().toStdString(), file.readAll().toStdString());
        for (const std::string& name : table.header) header.names << QString::fromStdString(name);
        std::vector<QStringList> values(std::size_t(header.names.size()));
        for (const csvio::Record& record : table.records) {
            QStringList row;
            for (std::size_t c = 0; c < record.fields.size(); ++c) {
                const std::string_view cell = csvio::trimmed(record.fields[c]);
                row << QString::fromUtf8(cell.data(), qsizetype(cell.size()));
                if (c < values.size()) values[c] << row.back();
            }
            if (int(header.preview.size()) < kPreviewRows) header.preview.push_back(row);
        }
        for (qsizetype c = 0; c < header.names.size(); ++c)
            header.guessedRoles.push_back(guessedRole(header.names[c], values[std::size_t(c)]));
    } catch (const latent::InputError& error) {
        header.problem = readerMessage(error);
    }
    return header;
}

ColumnRole guessedRole(const QString& name, const QStringList& values) {
    if (name.trimmed().compare(QLatin1String("id"), Qt::CaseInsensitive) == 0)
        return ColumnRole::Id;
    bool any = false, binary = true, whole = true;
    QSet<qint64> levels;
    for (const QString& value : values) {
        if (value.isEmpty() || value == QLatin1String("NA") || value == QLatin1String("."))
            continue; // the missing tokens
        any = true;
        const std::optional<double> number = csvio::plainDecimal(value.toStdString());
        if (!number) return ColumnRole::Nominal;
        binary = binary && (*number == 0.0 || *number == 1.0);
        whole = whole && *number == std::trunc(*number) && std::fabs(*number) < 1e15;
        if (whole) levels.insert(static_cast<qint64>(*number));
    }
    if (!any) return ColumnRole::Unused;
    if (binary) return ColumnRole::Binary;
    if (whole && levels.size() <= 10) return ColumnRole::Ordinal;
    return ColumnRole::Normal;
}

ColumnRole roleFor(Estimator estimator, ColumnRole guessed) {
    // Ordered categories are categories all the same to a latent class model.
    if (estimator == Estimator::Class && guessed == ColumnRole::Ordinal) return ColumnRole::Nominal;
    const std::vector<ColumnRole> allowed = rolesFor(estimator);
    return std::find(allowed.begin(), allowed.end(), guessed) != allowed.end() ? guessed
                                                                               : ColumnRole::Unused;
}

QString columnRoleName(ColumnRole role) {
    switch (role) {
    case ColumnRole::Unused:
        return QStringLiteral("unused");
    case ColumnRole::Binary:
        return QStringLiteral("binary");
    case ColumnRole::Normal:
        return QStringLiteral("normal");
    case ColumnRole::Nominal:
        return QStringLiteral("nominal");
    case ColumnRole::Ordinal:
        return QStringLiteral("ordinal");
    case ColumnRole::Id:
        return QStringLiteral("ID");
    }
    return {};
}

std::vector<ColumnRole> rolesFor(Estimator estimator) {
    // ploven's items are binary or of more categories, in no order (nominal).
    if (estimator == Estimator::Class)
        return {ColumnRole::Binary, ColumnRole::Nominal, ColumnRole::Id, ColumnRole::Unused};
    return {ColumnRole::Binary,  ColumnRole::Normal, ColumnRole::Nominal,
            ColumnRole::Ordinal, ColumnRole::Id,     ColumnRole::Unused};
}

int defaultPoints(int factors) {
    return factors == 2 ? 31 : 48;
}

int mostCycles(Estimator) {
    return 100000; // both estimators' --max-cycles
}

CsvImportChoice defaultChoice(Estimator estimator, const QString& csvPath,
                              const QStringList& columns) {
    CsvImportChoice choice;
    choice.csvPath = csvPath;
    choice.columns = columns;
    choice.roles.assign(std::size_t(columns.size()), ColumnRole::Unused);
    choice.maxCycles = estimator == Estimator::Trait ? 500 : 3000;
    return choice;
}

QString choiceProblem(Estimator estimator, const CsvImportChoice& choice) {
    if (choice.roles.size() != std::size_t(choice.columns.size()))
        return QStringLiteral("Every column needs a type.");
    qsizetype items = 0;
    for (ColumnRole role : choice.roles)
        items += role != ColumnRole::Unused && role != ColumnRole::Id;
    if (items == 0) return QStringLiteral("Choose a type for at least one item column.");
    if (columnsIn(choice, ColumnRole::Id).size() > 1)
        return QStringLiteral("Only one column can hold the case identifiers (ID).");
    for (std::size_t i = 0; i < choice.roles.size(); ++i) {
        if (choice.roles[i] == ColumnRole::Unused) continue;
        const QString& name = choice.columns[qsizetype(i)];
        if (choice.columns.count(name) > 1)
            return QStringLiteral("The header names the column \"%1\" twice, so it cannot be "
                                  "chosen; rename one of them in the file.")
                .arg(name);
        if (name.contains(QLatin1Char(',')))
            return QStringLiteral("The column name \"%1\" holds a comma, which the estimator's "
                                  "column lists cannot pass; rename it in the file.")
                .arg(name);
    }
    for (ColumnRole role : choice.roles) {
        const auto allowed = rolesFor(estimator);
        if (std::find(allowed.begin(), allowed.end(), role) == allowed.end())
            return QStringLiteral("The latent class model takes binary and nominal items.");
    }
    const int classes = qMax(choice.classes, choice.lastClasses);
    if (estimator == Estimator::Class && classes > items)
        return QStringLiteral("%1 classes need at least %1 items.").arg(classes);
    if (choice.maxCycles < 1) return QStringLiteral("The most cycles must be at least 1.");
    if (choice.maxCycles > mostCycles(estimator))
        return QStringLiteral("The most cycles can be %1 at most.").arg(mostCycles(estimator));
    if (!(choice.tolerance > 0)) return QStringLiteral("The tolerance must be positive.");
    return {};
}

QString csvReportPath(const QString& csvPath) {
    const QFileInfo csv(csvPath);
    return csv.absoluteDir().filePath(csv.completeBaseName() + QStringLiteral(".out"));
}

QStringList csvArguments(Estimator estimator, const CsvImportChoice& choice) {
    QStringList args{QStringLiteral("--csv"), choice.csvPath};
    auto list = [&](const char* option, ColumnRole role) {
        const QStringList names = columnsIn(choice, role);
        if (!names.isEmpty()) args << QLatin1String(option) << names.join(QLatin1Char(','));
    };
    if (estimator == Estimator::Trait) {
        list("--binary", ColumnRole::Binary);
        list("--normal", ColumnRole::Normal);
        list("--nominal", ColumnRole::Nominal);
        list("--ordinal", ColumnRole::Ordinal);
        list("--id", ColumnRole::Id);
        args << QStringLiteral("--factors") << QString::number(choice.factors)
             << QStringLiteral("--points") << QString::number(choice.points);
    } else {
        // A range compares the class counts: ploven fits each and tabulates them.
        args << QStringLiteral("--classes")
             << (choice.lastClasses > choice.classes
                     ? QStringLiteral("%1-%2").arg(choice.classes).arg(choice.lastClasses)
                     : QString::number(choice.classes));
        // Binary and nominal columns are ploven's items alike, in the file's order.
        QStringList items;
        for (std::size_t i = 0; i < choice.roles.size() && i < std::size_t(choice.columns.size());
             ++i)
            if (choice.roles[i] == ColumnRole::Binary || choice.roles[i] == ColumnRole::Nominal)
                items << choice.columns[qsizetype(i)];
        if (!items.isEmpty()) args << QStringLiteral("--items") << items.join(QLatin1Char(','));
        list("--id", ColumnRole::Id);
    }
    args << QStringLiteral("--max-cycles") << QString::number(choice.maxCycles)
         << QStringLiteral("--tolerance") << shortest(choice.tolerance);
    if (!choice.accelerate) args << QStringLiteral("--no-accelerate");
    if (estimator == Estimator::Trait) {
        if (choice.scores) args << QStringLiteral("--scores");
    } else {
        if (choice.standardErrors) args << QStringLiteral("--se");
        if (choice.simulations > 0)
            args << QStringLiteral("--simulate") << QString::number(choice.simulations);
        args << QStringLiteral("--starts") << QString::number(choice.starts)
             << QStringLiteral("--seed") << QString::number(choice.seed);
    }
    return args;
}

} // namespace oruk
