// oruk: the desktop front end of the latent variable estimators.
#include "latent/version.hpp"
#include "oruk/core/instancelock.hpp"
#include "oruk/core/workfolder.hpp"
#include "oruk/ui/mainwindow.hpp"
#include "oruk/ui/messages.hpp"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Oruk"));
    QCoreApplication::setApplicationName(QStringLiteral("Oruk"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(latent::version()));

    const QString workFolder = oruk::defaultWorkFolder();
    if (!oruk::ensureFolder(workFolder)) {
        oruk::showMessage(nullptr, QMessageBox::Critical, oruk::defaultMessageTitle(),
                          QStringLiteral("The work folder '%1' cannot be created.")
                              .arg(QDir::toNativeSeparators(workFolder)));
        return 1;
    }
    if (!oruk::confirmStart(nullptr, workFolder)) return 0;

    oruk::InstanceLock lock(workFolder);
    if (!lock.acquire()) {
        oruk::reportAlreadyRunning(nullptr,
                                   QFileInfo(QCoreApplication::applicationFilePath()).fileName());
        return 1;
    }

    oruk::MainWindow window({QCoreApplication::applicationDirPath(), workFolder});
    window.placeOnScreen();
    window.show();
    return app.exec();
}
