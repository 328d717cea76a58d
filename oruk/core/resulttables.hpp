// The tables of a results view, as plain data: a header and rows of cells, each cell a number
// (double or whole), a text, or empty. TableModel shows one in a view.
#pragma once

#include "oruk/core/results.hpp"
#include "oruk/core/runending.hpp"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace oruk {

struct Table {
    QStringList headers;
    std::vector<std::vector<QVariant>> rows;
};

// Status in words with its detail and the check's verdict on the maximum, then the fit figures
// the results hold.
Table summaryTable(const EndingShown& ending, const FitResults* results);

// travik: one row per parameter (item, name, type, parameter, estimate, standard error).
// ploven: the class sizes, then one row per item with its probability and standard error in
// each class.
Table estimatesTable(const FitResults& results);

// travik: the standardized loadings, one row per item (nominal items per category), a column
// per factor.
Table standardizedLoadingsTable(const FitResults& results);

// ploven: the bivariate residual of each pair of items.
Table bivariateResidualsTable(const FitResults& results);

// travik: each item's S-X2 with its df, p value and RMSEA.
Table itemFitTable(const FitResults& results);

// travik: the rotated standardized loadings, one row per item (nominal items per category).
Table rotatedLoadingsTable(const FitResults& results);

struct CasesRead {
    Table table;     // empty when the file does not read
    QString problem; // names the file, the line and the column; empty when the file reads
};

// A per-case results file read with the estimators' CSV reader: its header row and its records,
// each cell trimmed of blanks. Whole numbers (case, class) are whole, other numbers numbers;
// the "id" column and any other text stay text.
CasesRead casesTable(const QByteArray& text, const QString& fileName);

// The table as text for the clipboard: tab-separated, one line per row, headers first;
// numbers with every digit they have.
QString tabSeparated(const Table& table);

// The table as a CSV file: a header row, then one record per row, fields quoted where they hold
// a comma, a quote or a line break; numbers with every digit they have.
QString csvText(const Table& table);

// A cell as shown: whole numbers as they are, other numbers with four decimals, a number that
// is not finite as "n/a".
QString shownCell(const QVariant& cell);

// A read-only model of a table. Qt::DisplayRole gives the shown text, Qt::UserRole the value.
class TableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit TableModel(Table table, QObject* parent = nullptr)
        : QAbstractTableModel(parent), table_(std::move(table)) {}

    const Table& table() const { return table_; }
    // Numbers to the left like the texts: in a table of figures and their captions, each value
    // stays next to its caption.
    void setNumbersLeft(bool left) { numbersLeft_ = left; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    Table table_;
    bool numbersLeft_ = false;
};

} // namespace oruk
