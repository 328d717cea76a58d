// A CSV data file's columns as the estimators' CSV reader finds them, what the user chose for
// them (a type per column and the model's options), and the estimator's command line that fits
// the file. The estimators read the file again and build the deck.
#pragma once

#include "oruk/core/estimatorprofile.hpp"

#include <QString>
#include <QStringList>

#include <vector>

namespace oruk {

enum class ColumnRole { Unused, Binary, Normal, Nominal, Ordinal, Id };

struct CsvHeader {
    QStringList names;
    std::vector<QStringList> preview;     // the first records, each cell trimmed
    std::vector<ColumnRole> guessedRoles; // one per column, from all its values (guessedRole)
    QString problem; // names the file, the line and the column; empty when the file reads
};

// The records a preview shows at most.
inline constexpr int kPreviewRows = 8;

// The column names of the CSV file at path, its first records and a type guessed for each
// column. The whole file is read as the estimators read it (quoted fields, a byte-order mark,
// LF or CRLF line ends), so a row they would refuse is named before a run.
CsvHeader readCsvHeader(const QString& path);

// A column's type guessed from its values, the missing ones (empty, NA, .) left aside: a column
// named "id" holds identifiers; only 0 and 1: binary; whole numbers of at most 10 levels:
// ordinal; any text: nominal; other numbers: normal; no value at all: unused.
ColumnRole guessedRole(const QString& name, const QStringList& values);

// The guess as the estimator can take it: ploven takes ordinal columns as nominal, and leaves a
// normal one unused.
ColumnRole roleFor(Estimator estimator, ColumnRole guessed);

// "unused", "binary", "normal", "nominal", "ordinal", "ID".
QString columnRoleName(ColumnRole role);

// The roles a column can take for an estimator: every one for travik; binary, nominal, ID and
// unused for ploven, whose items have categories in no order.
std::vector<ColumnRole> rolesFor(Estimator estimator);

struct CsvImportChoice {
    QString csvPath;
    QStringList columns;           // the header's names
    std::vector<ColumnRole> roles; // one per column
    // travik
    int factors = 1;
    int points = 48;
    bool scores = false; // print the factor scores of every case in the report
    // ploven
    int classes = 2;
    int lastClasses = 0; // above classes: compare the counts classes ... lastClasses
    bool standardErrors = false;
    int simulations = 0; // 0: no simulation study
    int starts = 20;
    qint64 seed = 1;
    // both
    int maxCycles = 500;
    double tolerance = 1e-8;
    bool accelerate = true; // accelerated EM, which the estimators use for a CSV file unless told
};

// The estimator's quadrature points for a number of factors: 48 for one, the full 31-point
// rule per factor for two.
int defaultPoints(int factors);

// The most cycles (EM cycles and Newton steps together) the estimator takes for a CSV file.
int mostCycles(Estimator estimator);

// The estimator's defaults, every column unused.
CsvImportChoice defaultChoice(Estimator estimator, const QString& csvPath,
                              const QStringList& columns);

// Why the choice cannot be run (no items, two ID columns, a name the command line cannot
// pass, ...), or an empty text when it can.
QString choiceProblem(Estimator estimator, const CsvImportChoice& choice);

// Where a CSV run's report goes: beside the CSV file, named after it ("answers.csv" ->
// "answers.out"). Not the tab's output file, which belongs to the deck chosen before: the
// run's deck is kept beside its report under the report's name, and would replace that deck.
QString csvReportPath(const QString& csvPath);

// The estimator's arguments for the choice, without the output folder.
QStringList csvArguments(Estimator estimator, const CsvImportChoice& choice);

} // namespace oruk
