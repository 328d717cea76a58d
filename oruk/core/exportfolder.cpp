#include "oruk/core/exportfolder.hpp"

#include <QSettings>

namespace oruk {

namespace {

const QString kApplication = QStringLiteral("Oruk");
const QString kKey = QStringLiteral("Settings/PlotFolder");

} // namespace

QString storedExportFolder(const QString& fallback) {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kApplication,
                             kApplication);
    return settings.value(kKey, fallback).toString();
}

void storeExportFolder(const QString& folder) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kApplication, kApplication);
    settings.setValue(kKey, folder);
}

} // namespace oruk
