#include "oruk/ui/csvimportdialog.hpp"

#include "oruk/core/acceleration.hpp"
#include "oruk/core/runorchestrator.hpp"
#include "oruk/ui/messages.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleValidator>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <limits>

namespace oruk {

namespace {

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QSpinBox* spinBox(const char* name, int low, int high, int value) {
    auto* box = named(new QSpinBox, name);
    box->setRange(low, high);
    box->setValue(value);
    return box;
}

} // namespace

CsvImportDialog::CsvImportDialog(Estimator estimator, const CsvImportChoice& initial,
                                 const std::vector<QStringList>& preview, QWidget* parent)
    : QDialog(parent), estimator_(estimator), initial_(initial) {
    setObjectName(QStringLiteral("csvImportDialog"));
    setWindowTitle(QStringLiteral("Open CSV - ") + profileOf(estimator).shownName);
    auto* layout = new QVBoxLayout(this);
    auto* file = new QLabel(QStringLiteral("File: ") + QDir::toNativeSeparators(initial.csvPath));
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(file);
    if (!preview.empty()) {
        // The first rows as the file has them, so the types can be chosen knowing the values.
        auto* rows = named(new QTableWidget(int(preview.size()), int(initial.columns.size())),
                           "csvPreviewTable");
        rows->setHorizontalHeaderLabels(initial.columns);
        rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
        for (int r = 0; r < int(preview.size()); ++r)
            for (int c = 0; c < int(preview[std::size_t(r)].size()) && c < rows->columnCount(); ++c)
                rows->setItem(r, c, new QTableWidgetItem(preview[std::size_t(r)][c]));
        rows->resizeColumnsToContents();
        rows->setMaximumHeight(rows->horizontalHeader()->height() +
                               rows->verticalHeader()->defaultSectionSize() * (kPreviewRows + 1));
        layout->addWidget(new QLabel(QStringLiteral("The first rows of the file:")));
        layout->addWidget(rows);
    }
    layout->addWidget(
        new QLabel(estimator == Estimator::Trait
                       ? QStringLiteral("Choose the type of every column:")
                       : QStringLiteral("Choose the items (binary or nominal) and the ID "
                                        "column:")));

    columns_ = named(new QTableWidget(int(initial.columns.size()), 2), "columnTypesTable");
    columns_->setHorizontalHeaderLabels({QStringLiteral("Column"), QStringLiteral("Type")});
    columns_->verticalHeader()->setVisible(false);
    columns_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    const std::vector<ColumnRole> roles = rolesFor(estimator);
    for (int row = 0; row < int(initial.columns.size()); ++row) {
        auto* name = new QTableWidgetItem(initial.columns[row]);
        name->setFlags(Qt::ItemIsEnabled);
        columns_->setItem(row, 0, name);
        auto* box = new QComboBox;
        for (ColumnRole role : roles) box->addItem(columnRoleName(role), int(role));
        const ColumnRole chosen = std::size_t(row) < initial.roles.size()
                                      ? initial.roles[std::size_t(row)]
                                      : ColumnRole::Unused;
        box->setCurrentIndex(qMax(0, box->findData(int(chosen))));
        columns_->setCellWidget(row, 1, box);
    }
    columns_->resizeColumnToContents(1);
    layout->addWidget(columns_, 1);

    // Most files hold many items of one type: set them all at once, then the exceptions.
    auto* setAll = new QHBoxLayout;
    auto* allRoles = named(new QComboBox, "everyColumnTypeBox");
    for (ColumnRole role : roles)
        if (role != ColumnRole::Id) allRoles->addItem(columnRoleName(role), int(role));
    auto* apply =
        named(new QPushButton(QStringLiteral("Set every column")), "setEveryColumnButton");
    setAll->addWidget(new QLabel(QStringLiteral("Every column:")));
    setAll->addWidget(allRoles);
    setAll->addWidget(apply);
    setAll->addStretch();
    layout->addLayout(setAll);
    connect(apply, &QPushButton::clicked, this, [this, allRoles] {
        for (int row = 0; row < columns_->rowCount(); ++row)
            roleBox(row)->setCurrentIndex(roleBox(row)->findData(allRoles->currentData()));
    });

    auto* options = new QFormLayout;
    if (estimator == Estimator::Trait) {
        factors_ = spinBox("factorsSpinBox", 1, 2, initial.factors);
        points_ = spinBox("quadraturePointsSpinBox", 2, 201, initial.points);
        scores_ = named(new QCheckBox(QStringLiteral("List the factor scores of every case")),
                        "listScoresCheck");
        scores_->setChecked(initial.scores);
        options->addRow(QStringLiteral("Factors:"), factors_);
        options->addRow(QStringLiteral("Quadrature points:"), points_);
        // The estimator's default points follow the number of factors until the user sets them.
        connect(factors_, &QSpinBox::valueChanged, this, [this](int factors) {
            if (points_->value() == defaultPoints(3 - factors))
                points_->setValue(defaultPoints(factors));
        });
    } else {
        classes_ = spinBox("classesSpinBox", 1, 1000, initial.classes);
        options->addRow(QStringLiteral("Classes:"), classes_);
        // Up to a larger count, each count is fitted and the counts compared.
        lastClasses_ = spinBox("lastClassesSpinBox", 0, 1000, initial.lastClasses);
        lastClasses_->setSpecialValueText(QStringLiteral("no comparison"));
        lastClasses_->setToolTip(QStringLiteral("Fit every number of classes from Classes up "
                                                "to this one and compare them (BIC)"));
        options->addRow(QStringLiteral("Compare up to:"), lastClasses_);
    }
    maxCycles_ = spinBox("maxCyclesSpinBox", 1, mostCycles(estimator), initial.maxCycles);
    tolerance_ = named(new QLineEdit(QString::number(initial.tolerance, 'g', 6)), "toleranceEdit");
    auto* validator = new QDoubleValidator(0.0, 1.0, 17, tolerance_);
    validator->setNotation(QDoubleValidator::ScientificNotation);
    validator->setLocale(QLocale::c());
    tolerance_->setValidator(validator);
    options->addRow(QStringLiteral("Most cycles:"), maxCycles_);
    options->addRow(QStringLiteral("Tolerance:"), tolerance_);
    // The tab's choice, shown here too since it belongs with the model's options.
    accelerate_ = named(new QCheckBox(QStringLiteral("Accelerated EM")), "csvAccelerateCheck");
    accelerate_->setChecked(initial.accelerate);
    accelerate_->setToolTip(accelerationToolTip());
    options->addRow(QString(), accelerate_);
    if (estimator == Estimator::Trait) {
        options->addRow(QString(), scores_);
    } else {
        standardErrors_ =
            named(new QCheckBox(QStringLiteral("Compute standard errors")), "standardErrorsCheck");
        standardErrors_->setChecked(initial.standardErrors);
        simulations_ = spinBox("simulatedSamplesSpinBox", 0, 100000, initial.simulations);
        simulations_->setSpecialValueText(QStringLiteral("none"));
        starts_ = spinBox("randomStartsSpinBox", 0, 10000, initial.starts);
        seed_ = spinBox("seedSpinBox", 0, std::numeric_limits<int>::max(), int(initial.seed));
        options->addRow(QString(), standardErrors_);
        options->addRow(QStringLiteral("Simulated samples:"), simulations_);
        options->addRow(QStringLiteral("Random starts:"), starts_);
        options->addRow(QStringLiteral("Seed:"), seed_);
    }
    layout->addLayout(options);

    const QString report = csvReportPath(initial.csvPath);
    auto* destination = named(
        new QLabel(QStringLiteral("The report goes to %1 and the deck made from the data to %2, "
                                  "beside the file.")
                       .arg(QFileInfo(report).fileName(),
                            QFileInfo(RunOrchestrator::keptDeckPath(report)).fileName())),
        "csvDestinationLabel");
    destination->setWordWrap(true);
    layout->addWidget(destination);

    auto* buttons = new QDialogButtonBox;
    auto* run = buttons->addButton(QStringLiteral("Run"), QDialogButtonBox::AcceptRole);
    run->setObjectName(QStringLiteral("runCsvButton"));
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelCsvButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(580, 760);
}

QComboBox* CsvImportDialog::roleBox(int column) const {
    return qobject_cast<QComboBox*>(columns_->cellWidget(column, 1));
}

CsvImportChoice CsvImportDialog::choice() const {
    CsvImportChoice choice = initial_;
    for (int row = 0; row < columns_->rowCount(); ++row)
        choice.roles[std::size_t(row)] =
            static_cast<ColumnRole>(roleBox(row)->currentData().toInt());
    if (factors_) choice.factors = factors_->value();
    if (points_) choice.points = points_->value();
    if (scores_) choice.scores = scores_->isChecked();
    if (classes_) choice.classes = classes_->value();
    if (lastClasses_) choice.lastClasses = lastClasses_->value();
    if (standardErrors_) choice.standardErrors = standardErrors_->isChecked();
    if (simulations_) choice.simulations = simulations_->value();
    if (starts_) choice.starts = starts_->value();
    if (seed_) choice.seed = seed_->value();
    choice.maxCycles = maxCycles_->value();
    choice.accelerate = accelerate_->isChecked();
    bool ok = false;
    const double tolerance = QLocale::c().toDouble(tolerance_->text().trimmed(), &ok);
    choice.tolerance = ok ? tolerance : 0.0;
    return choice;
}

void CsvImportDialog::done(int result) {
    if (result == QDialog::Accepted) {
        const QString problem = choiceProblem(estimator_, choice());
        if (!problem.isEmpty()) {
            showMessage(this, QMessageBox::Critical, QStringLiteral("Open CSV"), problem);
            return; // the dialog stays open for a correction
        }
    }
    QDialog::done(result);
}

} // namespace oruk
