#include "oruk/core/editor.hpp"

#include <QProcess>

namespace oruk {

std::optional<EditorCommand> editorCommand(const QString& editor, const QString& file) {
    QStringList words = QProcess::splitCommand(editor);
    if (words.isEmpty() || words.first().isEmpty()) return std::nullopt;
    EditorCommand command{words.takeFirst(), words};
    command.arguments << file;
    return command;
}

QString quotedProgram(const QString& path) {
    bool needsQuotes = path.contains(QLatin1Char('"'));
    for (QChar c : path) needsQuotes = needsQuotes || c.isSpace();
    if (!needsQuotes) return path;
    // Inside quotes a literal quote is written as three quotes.
    QString escaped = path;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

OpenResult openInEditor(const QString& editor, const QString& file, const QString& workingFolder) {
    if (file.isEmpty()) return OpenResult::NoFile;
    const auto command = editorCommand(editor, file);
    if (!command) return OpenResult::NoEditor;
    QProcess process;
    process.setProgram(command->program);
    process.setArguments(command->arguments);
    process.setWorkingDirectory(workingFolder);
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached() ? OpenResult::Started : OpenResult::NoEditor;
}

} // namespace oruk
