#include "core/accountstore.h"
#include "platform/clipboard.h"
#include "platform/singleinstance.h"
#include "platform/urlopener.h"
#include "storage/filekeychain.h"
#include "storage/settings.h"
#include "ui/desktopshell.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so that the store is torn down normally.
void quitOnTermination(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        return;
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
} // namespace

int main(int argc, char *argv[])
{
    using namespace tessera;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessera"));
    QApplication::setDesktopFileName(QStringLiteral("tessera"));

    SingleInstance instance;
    if (!instance.claim()) {
        return 0;
    }
    quitOnTermination(app);

    auto settings = std::make_shared<QSettingsStore>();
    const bool showOnboardingAtLaunch = !settings->boolean(key(settingskey::onboardingComplete));
    registerTesseraDefaults(*settings);
    migrateNamingTemplate(*settings);
    AccountStore store(true, std::nullopt, TokenRefreshScheduler::system(),
                       Keychain(makeFileKeychainOperations(defaultFileKeychainFolder())), settings,
                       openURLInDesktopBrowser);

    DesktopShell shell(&store, {openURLInDesktopBrowser, copyTextToClipboard, {}, {}, {}, [] {
                                    QCoreApplication::quit();
                                }});
    QObject::connect(&instance, &SingleInstance::reopenRequested, &shell,
                     &DesktopShell::handleReopen);
    shell.start(showOnboardingAtLaunch);
    return app.exec();
}
