// oruk: the desktop front end of the latent variable estimators.
#include "latent/version.hpp"
#include "oruk/core/instancelock.hpp"
#include "oruk/core/workfolder.hpp"
#include "oruk/ui/mainwindow.hpp"
#include "oruk/ui/messages.hpp"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

constexpr const char* kUsage =
    "Usage: oruk [--help] [--version]\n"
    "The desktop front end of the travik (latent trait) and ploven (latent class) estimators.\n"
    "It opens a window with one tab per estimator; it needs a graphical desktop session.\n"
    "travik and ploven are started from the folder of oruk itself.\n"
    "\n"
    "  --help     print this text and end\n"
    "  --version  print the version and end\n"
    "\n"
    "The guide: oruk.md among the installed documentation (" ORUK_DOC_FOLDER ").\n";

// --help and --version are answered before any window, so they work without a display.
// Returns the exit status when one of them was given.
std::optional<int> answerWithoutWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("oruk %s\n", latent::version());
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto status = answerWithoutWindow(argc, argv)) return *status;
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
