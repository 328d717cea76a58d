// Opening a file in the user's text editor. The editor setting is a program followed by
// optional arguments ("kate -n", "\"/opt/My Editor/edit\""); the file is added as one more
// argument and no shell is involved, so paths with blanks or quotes arrive intact.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace oruk {

struct EditorCommand {
    QString program;
    QStringList arguments;
};

// The command that opens file with editor; empty when the setting names no program.
std::optional<EditorCommand> editorCommand(const QString& editor, const QString& file);

// A program path as it must be written into the setting: quoted when it holds blanks or quotes.
QString quotedProgram(const QString& path);

enum class OpenResult {
    Started,
    NoFile,   // the path is empty
    NoEditor, // no editor is set, or it could not be started
};

// Starts the editor on file with workingFolder as its current folder and does not wait for it.
OpenResult openInEditor(const QString& editor, const QString& file,
                        const QString& workingFolder = QString());

} // namespace oruk
