// Files in a folder found without regard to letter case, as the estimators find theirs: a file
// the estimators call "LI7.OUT" may be there as "Li7.out" (made elsewhere, or by an earlier
// version), and a deck may arrive as "lat.inp".
#pragma once

#include <QString>
#include <QStringList>

namespace oruk {

// Full paths of the files in folder whose name equals name ignoring case, sorted by name.
QStringList filesNamed(const QString& folder, const QString& name);

// The first of filesNamed(folder, name), or an empty string when there is none.
QString findFile(const QString& folder, const QString& name);

// Removes every file in folder named name in any letter case. False when one stays behind.
bool removeFiles(const QString& folder, const QString& name);

// Copies from to to, replacing a file that is already there. On failure error holds why.
bool copyReplacing(const QString& from, const QString& to, QString* error = nullptr);

} // namespace oruk
