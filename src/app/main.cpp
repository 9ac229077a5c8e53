#include "app/tesseraapp.h"
#include "platform/singleinstance.h"
#include "platform/unixsignals.h"

#include <QApplication>
#include <csignal>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessera"));
    QApplication::setOrganizationName(QStringLiteral("Tessera"));
    // A tray application lives on with no window open.
    QApplication::setQuitOnLastWindowClosed(false);

    // Installed before anything is loaded, so a stop request during start-up is not lost.
    tessera::UnixSignalNotifier stopRequests({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&stopRequests, &tessera::UnixSignalNotifier::activated, &app,
                     &QCoreApplication::quit);

    // A second start only asks the running Tessera to come forward.
    tessera::SingleInstance instance;
    if (!instance.claim()) {
        return 0;
    }

    tessera::TesseraApp tessera;
    QObject::connect(&instance, &tessera::SingleInstance::reopenRequested, &tessera,
                     &tessera::TesseraApp::handleReopen);
    return QApplication::exec();
}
