// Message boxes of the front end. Each waits for its answer, like every message of the window.
#pragma once

#include <QMessageBox>
#include <QString>

namespace oruk {

// The title of a message that names none.
inline QString defaultMessageTitle() {
    return QStringLiteral("Oruk");
}

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const QString& text);

// The start-up question "ORUK: Read This First" naming the work folder; No is the default.
// True only when the answer is Yes.
bool confirmStart(QWidget* parent, const QString& workFolder);

// "oruk already running".
void reportAlreadyRunning(QWidget* parent, const QString& programName);

} // namespace oruk
