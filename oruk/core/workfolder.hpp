// The private folder where the estimators run: per user, so that two users of one machine
// never share staged decks or reports.
#pragma once

#include <QString>

namespace oruk {

// The application data location of the running program plus "/work".
QString defaultWorkFolder();

// Creates folder (and its parents) when missing. False when it cannot be made.
bool ensureFolder(const QString& folder);

} // namespace oruk
