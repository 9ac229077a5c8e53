#include "app/tesseraapp.h"
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

    tessera::TesseraApp tessera;
    return QApplication::exec();
}
