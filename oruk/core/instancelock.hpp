// One front end per work folder: a second one would delete the first one's files mid-run.
#pragma once

#include <QLockFile>
#include <QString>

namespace oruk {

class InstanceLock {
  public:
    explicit InstanceLock(const QString& workFolder);

    // True when this object now holds the folder. A lock left by a program that no longer
    // runs (after a crash) is taken over.
    bool acquire();

    static QString fileName() { return QStringLiteral("oruk.lock"); }

  private:
    QLockFile lock_;
};

} // namespace oruk
