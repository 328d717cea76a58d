#include "oruk/core/folderfiles.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace oruk {

QStringList filesNamed(const QString& folder, const QString& name) {
    QStringList found;
    const QDir dir(folder);
    const QStringList entries =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) found << dir.filePath(entry);
    }
    return found;
}

QString findFile(const QString& folder, const QString& name) {
    const QStringList found = filesNamed(folder, name);
    return found.isEmpty() ? QString() : found.first();
}

bool removeFiles(const QString& folder, const QString& name) {
    bool allGone = true;
    for (const QString& path : filesNamed(folder, name)) {
        if (!QFile::remove(path)) allGone = false;
    }
    return allGone;
}

bool copyReplacing(const QString& from, const QString& to, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (!QFileInfo(from).isFile()) return fail(QStringLiteral("\"%1\" does not exist").arg(from));
    if (QFileInfo(to).isDir()) return fail(QStringLiteral("\"%1\" is a folder").arg(to));
    // Copy next to the target first, so a failed copy never destroys the old file.
    const QString partial = to + QStringLiteral(".oruk-partial");
    QFile::remove(partial);
    QFile source(from);
    if (!source.copy(partial)) {
        // The user knows the file by its own name, not by the one it is written under first.
        QString why = source.errorString();
        why.replace(partial, to);
        return fail(QStringLiteral("cannot write \"%1\": %2").arg(to, why));
    }
    // One step that replaces the old file, so a failure leaves it as it was.
    std::error_code failure;
    std::filesystem::rename(QFile::encodeName(partial).toStdString(),
                            QFile::encodeName(to).toStdString(), failure);
    if (failure) {
        QFile::remove(partial);
        return fail(QStringLiteral("cannot write \"%1\": %2")
                        .arg(to, QString::fromLocal8Bit(failure.message())));
    }
    return true;
}

} // namespace oruk
