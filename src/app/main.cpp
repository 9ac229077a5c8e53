#include "app/commandline.h"
#include "app/consoleurlcommand.h"
#include "app/tesseraapp.h"
#include "platform/singleinstance.h"
#include "platform/unixsignals.h"

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tessera"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tessera"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSERA_VERSION));
}

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

// Help, version, console links and usage errors: answered without a running instance.
int answer(const tessera::CommandLine &commandLine, const tessera::CommandLineRequest &request)
{
    using Action = tessera::CommandLineRequest::Action;
    switch (request.action) {
    case Action::showHelp:
        std::printf("%s", qPrintable(commandLine.helpText()));
        return 0;
    case Action::showVersion:
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    case Action::printConsoleURL:
        return tessera::printConsoleLink(request.consoleURLArguments);
    case Action::usageError:
        std::fprintf(stderr, "tessera: %s\nTry \"tessera --help\".\n", qPrintable(request.error));
        return 2;
    case Action::start:
        break;
    }
    return 0;
}

int runWithoutDisplay(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    nameApplication();
    tessera::CommandLine commandLine;
    return answer(commandLine, commandLine.parse(QCoreApplication::arguments()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (tessera::CommandLine::runsWithoutDisplay(argumentList(argc, argv))) {
        return runWithoutDisplay(argc, argv);
    }

    QApplication app(argc, argv);
    nameApplication();
    // A tray application lives on with no window open.
    QApplication::setQuitOnLastWindowClosed(false);

    // Parsed after QApplication has taken its own options (-platform, -display, ...).
    tessera::CommandLine commandLine;
    const tessera::CommandLineRequest request = commandLine.parse(QApplication::arguments());
    if (request.action != tessera::CommandLineRequest::Action::start) {
        return answer(commandLine, request);
    }

    // Installed before anything is loaded, so a stop request during start-up is not lost.
    tessera::UnixSignalNotifier stopRequests({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&stopRequests, &tessera::UnixSignalNotifier::activated, &app,
                     &QCoreApplication::quit);

    // A later start hands its command to the running Tessera and leaves; the first one
    // becomes the running Tessera and carries out its own command.
    tessera::SingleInstance instance;
    if (!instance.claim(request.command)) {
        return 0;
    }

    auto dependencies = tessera::TesseraAppDependencies::production();
    dependencies.inert = dependencies.inert || request.inert;
    tessera::TesseraApp tessera(std::move(dependencies));
    QObject::connect(&instance, &tessera::SingleInstance::commandReceived, &tessera,
                     &tessera::TesseraApp::perform);
    if (request.command != tessera::InstanceCommand::reopen) {
        // Once the event loop runs, as a request from a later start would be.
        QTimer::singleShot(0, &tessera,
                           [&tessera, command = request.command] { tessera.perform(command); });
    }
    return QApplication::exec();
}
