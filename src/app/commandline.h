#pragma once

#include "platform/singleinstance.h"

#include <QCommandLineParser>
#include <QStringList>

namespace tessera {

// What the command line asks for. Parsed before any display is opened, so that --help,
// --version and --print-console-url work where there is none.
struct CommandLineRequest
{
    enum class Action
    {
        start, // become or reach the running Tessera, then carry out `command`
        showHelp,
        showVersion,
        printConsoleURL, // print a console link from `consoleURLArguments` and leave
        usageError,      // `error` says what is wrong
    };

    Action action = Action::start;
    // What the running instance is asked to do; `reopen` when no command was given.
    InstanceCommand command = InstanceCommand::reopen;
    bool inert = false;
    // ACCOUNT ROLE [SERVICE] [REGION]
    QStringList consoleURLArguments;
    QString error;
};

// Tessera's options, in one place for parsing and for --help.
class CommandLine
{
public:
    CommandLine();

    // `arguments` as the process got them, the program name first.
    CommandLineRequest parse(const QStringList &arguments);
    // Needs a QCoreApplication (it names the program and its version).
    QString helpText() const { return m_parser.helpText(); }

    // Whether these arguments can be served without a display (help, version, a console
    // link): decided before the application object is made.
    static bool runsWithoutDisplay(const QStringList &arguments);

private:
    QCommandLineParser m_parser;
};

} // namespace tessera
