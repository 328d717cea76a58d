#include "oruk/ui/estimatortab.hpp"

#include "oruk/core/acceleration.hpp"
#include "oruk/core/decksummary.hpp"
#include "oruk/core/runorchestrator.hpp"
#include "oruk/ui/filechooser.hpp"
#include "oruk/ui/messages.hpp"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace oruk {

namespace {

// What differs between the two tabs: the heading, the summary's captions, and the object names
// by which the rest of the program, the tests and scripts that drive the window know the
// controls.
struct TabTexts {
    const char* heading;
    const char* captions[4];
    const char* input;
    const char* inputChooser;
    const char* output;
    const char* outputChooser;
    const char* run;
    const char* reload;
    const char* viewInput;
    const char* viewOutput;
    const char* values[4];
    const char* recordsCaption; // the caption of values[1]
    const char* status;
    const char* csv;
    const char* cancel;
    const char* progress;
    const char* accelerate;
    const char* deckProblem;
};

const TabTexts kTraitTexts{
    "TRAVIK",
    {"Title:", "Cases:", "Items:", "Factors:"},
    "travikInputEdit",
    "chooseTravikInputButton",
    "travikOutputEdit",
    "chooseTravikOutputButton",
    "runTravikButton",
    "reloadTravikInputButton",
    "viewTravikInputButton",
    "viewTravikOutputButton",
    {"travikTitleLabel", "travikCasesLabel", "travikItemsLabel", "travikFactorsLabel"},
    "travikCasesCaptionLabel",
    "travikStatusLabel",
    "openTravikCsvButton",
    "cancelTravikButton",
    "travikProgressBar",
    "travikAccelerateCheck",
    "travikDeckProblemLabel",
};

const TabTexts kClassTexts{
    "PLOVEN",
    {"Title:", "Patterns:", "Items:", "Classes:"},
    "plovenInputEdit",
    "choosePlovenInputButton",
    "plovenOutputEdit",
    "choosePlovenOutputButton",
    "runPlovenButton",
    "reloadPlovenInputButton",
    "viewPlovenInputButton",
    "viewPlovenOutputButton",
    {"plovenTitleLabel", "plovenRecordsLabel", "plovenItemsLabel", "plovenClassesLabel"},
    "plovenRecordsCaptionLabel",
    "plovenStatusLabel",
    "openPlovenCsvButton",
    "cancelPlovenButton",
    "plovenProgressBar",
    "plovenAccelerateCheck",
    "plovenDeckProblemLabel",
};

const QString kChooserTip = QStringLiteral("Click to select file");

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton* chooserButton(const char* name) {
    auto* button = named(new QPushButton(QStringLiteral("...")), name);
    button->setToolTip(kChooserTip);
    button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    return button;
}

const QString kNoValidInput = QStringLiteral("There is no valid input file specified.");

} // namespace

EstimatorTab::EstimatorTab(Estimator estimator, QWidget* parent)
    : QWidget(parent), estimator_(estimator) {
    const TabTexts& texts = estimator == Estimator::Trait ? kTraitTexts : kClassTexts;
    auto* layout = new QVBoxLayout(this);

    auto* heading = new QLabel(QLatin1String(texts.heading));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.6);
    heading->setFont(headingFont);
    layout->addWidget(heading);

    auto* files = new QGridLayout;
    input_ = named(new QLineEdit, texts.input);
    output_ = named(new QLineEdit, texts.output);
    inputChooser_ = chooserButton(texts.inputChooser);
    outputChooser_ = chooserButton(texts.outputChooser);
    files->addWidget(new QLabel(QStringLiteral("Input File:")), 0, 0);
    files->addWidget(input_, 0, 1);
    files->addWidget(inputChooser_, 0, 2);
    openCsv_ = named(new QPushButton(QStringLiteral("Open CSV...")), texts.csv);
    openCsv_->setToolTip(QStringLiteral("Fit the data of a CSV file with a header row"));
    files->addWidget(openCsv_, 0, 3);
    files->addWidget(new QLabel(QStringLiteral("Output File:")), 1, 0);
    files->addWidget(output_, 1, 1);
    files->addWidget(outputChooser_, 1, 2);
    layout->addLayout(files);

    auto* summary = new QFormLayout;
    for (int i = 0; i < 4; ++i) {
        summaryValues_[i] = named(new QLabel, texts.values[i]);
        summaryValues_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* caption = new QLabel(QLatin1String(texts.captions[i]));
        if (i == 1) recordsCaption_ = named(caption, texts.recordsCaption);
        summary->addRow(caption, summaryValues_[i]);
    }
    deckProblem_ = named(new QLabel, texts.deckProblem);
    deckProblem_->setWordWrap(true);
    deckProblem_->setStyleSheet(QStringLiteral("color: #a00000"));
    deckProblem_->setVisible(false);
    summary->addRow(deckProblem_);
    auto* summaryBox = new QGroupBox;
    summaryBox->setLayout(summary);
    layout->addWidget(summaryBox);

    // On unless the user switches it off; the choice holds for later sessions too.
    accelerate_ = named(new QCheckBox(QStringLiteral("Accelerated EM")), texts.accelerate);
    accelerate_->setToolTip(accelerationToolTip());
    accelerate_->setChecked(storedAcceleration(estimator));
    connect(accelerate_, &QCheckBox::toggled, this,
            [this](bool on) { storeAcceleration(estimator_, on); });
    layout->addWidget(accelerate_);

    if (estimator == Estimator::Trait) {
        const QString tip = QStringLiteral("See information on \"Li8.out\" in Travik user "
                                           "documentation. File is saved into input folder.");
        auto* keepRow = new QHBoxLayout;
        auto* keepLabel = named(new QLabel(QStringLiteral("Preserve estimates from \"Li8.out\":")),
                                "keepEstimatesLabel");
        keepEstimates_ = named(new QCheckBox, "keepEstimatesCheck");
        keepLabel->setBuddy(keepEstimates_);
        keepLabel->setToolTip(tip);
        keepEstimates_->setToolTip(tip);
        keepRow->addWidget(keepLabel);
        keepRow->addWidget(keepEstimates_);
        keepRow->addStretch();
        layout->addLayout(keepRow);
    }

    auto* buttons = new QHBoxLayout;
    run_ = named(new QPushButton(QStringLiteral("Run")), texts.run);
    auto* reload = named(new QPushButton(QStringLiteral("Reload input")), texts.reload);
    auto* viewInput = named(new QPushButton(QStringLiteral("View input")), texts.viewInput);
    auto* viewOutput = named(new QPushButton(QStringLiteral("View outp.")), texts.viewOutput);
    cancel_ = named(new QPushButton(QStringLiteral("Cancel")), texts.cancel);
    cancel_->setEnabled(false);
    for (QPushButton* button : {run_, cancel_, reload, viewInput, viewOutput}) {
        buttons->addWidget(button);
        // Enter presses the focused button, as Space does (outside a dialog Qt leaves it off).
        button->setAutoDefault(true);
    }
    layout->addLayout(buttons);

    progress_ = named(new QProgressBar, texts.progress);
    progress_->setVisible(false);
    layout->addWidget(progress_);

    status_ = named(new QLabel, texts.status);
    status_->setWordWrap(true);
    status_->setMinimumHeight(status_->fontMetrics().lineSpacing() * 3 + 4);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(status_);
    layout->addStretch();

    // The summary follows the field, whether the text was typed, pasted or chosen.
    connect(input_, &QLineEdit::textChanged, this, &EstimatorTab::showSummary);
    connect(inputChooser_, &QPushButton::clicked, this, &EstimatorTab::chooseInput);
    connect(outputChooser_, &QPushButton::clicked, this, &EstimatorTab::chooseOutput);
    connect(reload, &QPushButton::clicked, this, &EstimatorTab::reloadInput);
    connect(run_, &QPushButton::clicked, this, [this] { emit runRequested(estimator_); });
    connect(cancel_, &QPushButton::clicked, this, &EstimatorTab::cancelRequested);
    connect(openCsv_, &QPushButton::clicked, this, [this] { emit csvRequested(estimator_); });
    connect(viewInput, &QPushButton::clicked, this,
            [this] { emit viewRequested(inputPath(), true); });
    connect(viewOutput, &QPushButton::clicked, this, [this] {
        emit viewRequested(RunOrchestrator::resolvedOutputPath(inputPath(), outputPath()), false);
    });
}

QString EstimatorTab::inputPath() const {
    return input_->text();
}
QString EstimatorTab::outputPath() const {
    return output_->text();
}
bool EstimatorTab::keepEstimates() const {
    return keepEstimates_ && keepEstimates_->isChecked();
}
bool EstimatorTab::accelerate() const {
    return accelerate_->isChecked();
}
void EstimatorTab::setAccelerate(bool accelerate) {
    accelerate_->setChecked(accelerate);
}

void EstimatorTab::setStatus(const QString& text) {
    status_->setText(text);
    status_->update();
}

void EstimatorTab::setProgress(const RunProgress& progress) {
    progress_->setRange(0, int(qMin<qint64>(progress.maximum, 1 << 30)));
    progress_->setValue(int(qMin<qint64>(progress.value, progress_->maximum())));
    progress_->setFormat(progress.maximum > 0 ? QStringLiteral("%v of %m") : QString());
}

void EstimatorTab::setPaths(const QString& input, const QString& output) {
    input_->setText(input);
    output_->setText(output);
}

void EstimatorTab::updateRunButton() {
    run_->setEnabled(!anyRun_ && deckRunnable_);
    run_->setToolTip(deckRunnable_ ? QString() : deckProblem_->text());
}

void EstimatorTab::setRunInProgress(bool anyRun, bool here) {
    runningHere_ = anyRun && here;
    anyRun_ = anyRun;
    for (QWidget* control :
         {static_cast<QWidget*>(inputChooser_), static_cast<QWidget*>(outputChooser_),
          static_cast<QWidget*>(openCsv_)}) {
        control->setEnabled(!anyRun);
    }
    updateRunButton();
    cancel_->setEnabled(runningHere_);
    // The run goes on as it started; the box shows how until it ends.
    accelerate_->setEnabled(!runningHere_);
    // A busy bar until the first progress line arrives.
    if (runningHere_) progress_->setRange(0, 0);
    progress_->setVisible(runningHere_);
    // The run works with the paths it started with; editing them now would mislead.
    input_->setReadOnly(anyRun);
    output_->setReadOnly(anyRun);
}

void EstimatorTab::chooseInput() {
    if (const auto chosen = chooseInputFile(this, inputPath())) {
        input_->setText(*chosen);
        reloadInput();
    }
}

void EstimatorTab::chooseOutput() {
    if (const auto chosen = chooseOutputFile(this, outputPath())) output_->setText(*chosen);
}

void EstimatorTab::reloadInput() {
    // A run in progress keeps its status; its progress would come back at once anyway.
    if (!runningHere_) status_->clear();
    const DeckState state = readSummary();
    if (state.access == DeckAccess::InvalidPath)
        showMessage(this, QMessageBox::Critical, QStringLiteral("Error"), kNoValidInput);
    else if (state.access != DeckAccess::Read)
        showMessage(this, QMessageBox::Critical, QStringLiteral("Error"), state.problem);
}

void EstimatorTab::showSummary() {
    readSummary();
}

EstimatorTab::DeckState EstimatorTab::readSummary() {
    DeckState state = // returned, so not const
        estimator_ == Estimator::Trait ? showTraitSummary() : showClassSummary();
    // Values of a deck that no longer reads, or of another deck, would be stale.
    if (state.access != DeckAccess::Read) clearSummary();
    const bool said =
        state.access == DeckAccess::Unreadable || state.access == DeckAccess::OtherKind;
    deckProblem_->setText(said ? state.problem : QString());
    deckProblem_->setVisible(said);
    // The other estimator's deck cannot be run here; the reason stays in sight.
    deckRunnable_ = state.access != DeckAccess::OtherKind;
    updateRunButton();
    return state;
}

void EstimatorTab::clearSummary() {
    for (QLabel* value : summaryValues_) value->clear();
}

EstimatorTab::DeckState EstimatorTab::showTraitSummary() {
    const auto read = readTraitSummary(inputPath());
    if (read.access != DeckAccess::Read) return {read.access, read.problem};
    const TraitSummary& s = read.summary;
    summaryValues_[0]->setText(s.title);
    summaryValues_[1]->setText(QString::number(s.cases));
    summaryValues_[2]->setText(QString::number(s.items));
    summaryValues_[3]->setText(QString::number(s.factors));
    return {read.access, {}};
}

EstimatorTab::DeckState EstimatorTab::showClassSummary() {
    const auto read = readClassSummary(inputPath());
    if (read.access != DeckAccess::Read) return {read.access, read.problem};
    const ClassSummary& s = read.summary;
    recordsCaption_->setText(s.patternInput ? QStringLiteral("Patterns:")
                                            : QStringLiteral("Cases:"));
    summaryValues_[0]->setText(s.title);
    summaryValues_[1]->setText(QString::number(s.patterns));
    summaryValues_[2]->setText(QString::number(s.items));
    summaryValues_[3]->setText(QString::number(s.classes));
    return {read.access, {}};
}

} // namespace oruk
