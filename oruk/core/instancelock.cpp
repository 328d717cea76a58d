#include "oruk/core/instancelock.hpp"

#include <QDir>

namespace oruk {

InstanceLock::InstanceLock(const QString& workFolder)
    : lock_(QDir(workFolder).filePath(fileName())) {
    // The lock stays valid for as long as the holder runs, however long that is.
    lock_.setStaleLockTime(0);
}

bool InstanceLock::acquire() {
    return lock_.isLocked() || lock_.tryLock(0);
}

} // namespace oruk
