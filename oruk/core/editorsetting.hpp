// The one value the front end keeps between sessions: the editor, in the per-user settings
// store under application "Oruk", group "Settings", key "Editor".
#pragma once

#include <QString>

#include <optional>

namespace oruk {

// The stored editor; empty when none was ever stored.
std::optional<QString> storedEditor();

// Stores editor (an empty text too) and writes it out at once.
void storeEditor(const QString& editor);

} // namespace oruk
