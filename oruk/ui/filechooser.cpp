#include "oruk/ui/filechooser.hpp"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace oruk {

namespace {

std::optional<QString> choose(QWidget* parent, QFileDialog::FileMode mode,
                              const QStringList& filters, const QString& current,
                              bool programsOnly = false) {
    QFileDialog dialog(parent, QStringLiteral("Open"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(mode);
    dialog.setNameFilters(filters);
    if (programsOnly) {
        dialog.setFilter(QDir::Executable | QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot);
    }
    if (!current.isEmpty()) {
        const QFileInfo info(current);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    return QDir::toNativeSeparators(chosen.first());
}

} // namespace

std::optional<QString> chooseInputFile(QWidget* parent, const QString& current) {
    return choose(parent, QFileDialog::ExistingFile,
                  {QStringLiteral("Input Files (*.inp)"), QStringLiteral("Data Files (*.dat)"),
                   QStringLiteral("All Files (*)")},
                  current);
}

std::optional<QString> chooseCsvFile(QWidget* parent, const QString& current) {
    return choose(parent, QFileDialog::ExistingFile,
                  {QStringLiteral("CSV Files (*.csv)"), QStringLiteral("All Files (*)")}, current);
}

std::optional<QString> chooseOutputFile(QWidget* parent, const QString& current) {
    return choose(parent, QFileDialog::AnyFile, {QStringLiteral("All Files (*)")}, current);
}

std::optional<QString> chooseEditorProgram(QWidget* parent) {
    return choose(parent, QFileDialog::ExistingFile, {QStringLiteral("Applications (*)")},
                  QString(), true);
}

} // namespace oruk
