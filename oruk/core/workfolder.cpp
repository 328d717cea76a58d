#include "oruk/core/workfolder.hpp"

#include <QDir>
#include <QStandardPaths>

namespace oruk {

QString defaultWorkFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/work");
}

bool ensureFolder(const QString& folder) {
    return !folder.isEmpty() && QDir().mkpath(folder);
}

} // namespace oruk
