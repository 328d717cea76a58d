// The file dialogs of the front end. Each returns the chosen path, or nothing on Cancel.
#pragma once

#include <QString>
#include <QWidget>

#include <optional>

namespace oruk {

// An input deck: input files, data files or any file. It must exist.
std::optional<QString> chooseInputFile(QWidget* parent, const QString& current);

// A CSV data file. It must exist.
std::optional<QString> chooseCsvFile(QWidget* parent, const QString& current);

// A report file: any file, which need not exist yet.
std::optional<QString> chooseOutputFile(QWidget* parent, const QString& current);

// An editor program.
std::optional<QString> chooseEditorProgram(QWidget* parent);

} // namespace oruk
