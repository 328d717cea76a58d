#include "oruk/ui/settingswindow.hpp"

#include "oruk/core/editor.hpp"
#include "oruk/core/editorsetting.hpp"
#include "oruk/ui/filechooser.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace oruk {

SettingsWindow::SettingsWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("ORUK Settings"));

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("The current file editor is:")), 0, 0);
    currentEditor_ = new QLabel;
    currentEditor_->setObjectName(QStringLiteral("currentEditorLabel"));
    currentEditor_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(currentEditor_, 0, 1, 1, 2);

    auto* prompt = new QLabel(QStringLiteral("Change file editor to:\n(specify editor "
                                             "executable - for example 'gedit')"));
    prompt->setObjectName(QStringLiteral("editorPromptLabel"));
    layout->addWidget(prompt, 1, 0, 1, 3);

    editorCommand_ = new QLineEdit;
    editorCommand_->setObjectName(QStringLiteral("editorCommandEdit"));
    editorCommand_->setMinimumWidth(320);
    layout->addWidget(editorCommand_, 2, 0, 1, 2);
    auto* choose = new QPushButton(QStringLiteral("..."));
    choose->setObjectName(QStringLiteral("chooseEditorButton"));
    choose->setToolTip(QStringLiteral("Click to select file"));
    choose->setAutoDefault(false);
    choose->setFixedWidth(choose->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    layout->addWidget(choose, 2, 2);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton(QStringLiteral("Apply"));
    apply->setObjectName(QStringLiteral("applyEditorButton"));
    apply->setDefault(true); // Enter in the text box applies
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("closeSettingsButton"));
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(close);
    layout->addLayout(buttons, 3, 0, 1, 3);

    connect(apply, &QPushButton::clicked, this, &SettingsWindow::apply);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(choose, &QPushButton::clicked, this, &SettingsWindow::chooseEditor);
    showStoredEditor();
}

void SettingsWindow::showStoredEditor() {
    const auto stored = storedEditor();
    currentEditor_->setText(stored && !stored->isEmpty() ? *stored
                                                         : QStringLiteral("None specified"));
}

void SettingsWindow::apply() {
    storeEditor(editorCommand_->text());
    showStoredEditor();
    emit editorApplied(storedEditor().value_or(QString()));
}

void SettingsWindow::chooseEditor() {
    // The setting is a command line, so a program path with blanks goes in quoted.
    if (const auto chosen = chooseEditorProgram(this))
        editorCommand_->setText(quotedProgram(*chosen));
}

} // namespace oruk
