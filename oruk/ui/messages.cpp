#include "oruk/ui/messages.hpp"

#include <QDir>

namespace oruk {

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool confirmStart(QWidget* parent, const QString& workFolder) {
    const QString text =
        QStringLiteral("This program will use the folder '") +
        QDir::toNativeSeparators(workFolder) + QStringLiteral("'") +
        QStringLiteral(" to manipulate files.\n") +
        QStringLiteral(
            "Do not place any files into this folder by hand as they may be DELETED.\n") +
        QStringLiteral("See OrukReadMe.txt for further information.\n") +
        QStringLiteral("Do you want to continue?");
    QMessageBox box(QMessageBox::Question, QStringLiteral("ORUK: Read This First"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void reportAlreadyRunning(QWidget* parent, const QString& programName) {
    showMessage(parent, QMessageBox::Critical, defaultMessageTitle(),
                programName + QStringLiteral(" already running"));
}

} // namespace oruk
