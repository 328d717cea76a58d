// "Open CSV...": the file's first rows, one row per column of the file's header with a type
// choice (a guess from the column's values to start from), the model's options with the
// estimator's defaults, and Run. The estimator reads the file; this only says what to make of it.
#pragma once

#include "oruk/core/csvimport.hpp"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;
class QTableWidget;

namespace oruk {

class CsvImportDialog : public QDialog {
    Q_OBJECT

  public:
    // preview: the file's first records, shown above the types.
    CsvImportDialog(Estimator estimator, const CsvImportChoice& initial,
                    const std::vector<QStringList>& preview = {}, QWidget* parent = nullptr);

    // What the dialog shows now.
    CsvImportChoice choice() const;

    // The type box of a column.
    QComboBox* roleBox(int column) const;

  protected:
    void done(int result) override;

  private:
    Estimator estimator_;
    CsvImportChoice initial_;
    QTableWidget* columns_ = nullptr;
    QSpinBox* factors_ = nullptr;
    QSpinBox* points_ = nullptr;
    QCheckBox* scores_ = nullptr;
    QSpinBox* classes_ = nullptr;
    QSpinBox* lastClasses_ = nullptr;
    QCheckBox* standardErrors_ = nullptr;
    QSpinBox* simulations_ = nullptr;
    QSpinBox* starts_ = nullptr;
    QSpinBox* seed_ = nullptr;
    QSpinBox* maxCycles_ = nullptr;
    QLineEdit* tolerance_ = nullptr;
    QCheckBox* accelerate_ = nullptr;
};

} // namespace oruk
