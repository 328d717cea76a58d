// The folder where plots and tables were last saved or exported, kept between sessions in the
// per-user settings store under application "Oruk", group "Settings", key "PlotFolder".
#pragma once

#include <QString>

namespace oruk {

// The stored folder, or fallback when none was stored.
QString storedExportFolder(const QString& fallback);

void storeExportFolder(const QString& folder);

} // namespace oruk
