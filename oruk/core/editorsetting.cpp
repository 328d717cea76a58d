#include "oruk/core/editorsetting.hpp"

#include <QSettings>

namespace oruk {

namespace {

const QString kApplication = QStringLiteral("Oruk");
const QString kKey = QStringLiteral("Settings/Editor");

} // namespace

std::optional<QString> storedEditor() {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kApplication,
                             kApplication);
    const QVariant value = settings.value(kKey);
    if (!value.isValid()) return std::nullopt;
    return value.toString();
}

void storeEditor(const QString& editor) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kApplication, kApplication);
    settings.setValue(kKey, editor);
    settings.sync();
}

} // namespace oruk
