#include "app/commandline.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>

namespace tessera {

namespace {

const QString printConsoleURLOption = QStringLiteral("print-console-url");
const QString inertOption = QStringLiteral("inert");

struct CommandOption
{
    const char *name;
    InstanceCommand command;
    const char *description;
};

constexpr std::array<CommandOption, 5> commandOptions{{
    {"show", InstanceCommand::show, "Open the menu panel."},
    {"quick-search", InstanceCommand::quickSearch, "Open or close Quick Search."},
    {"settings", InstanceCommand::settings, "Open the settings window."},
    {"sign-in", InstanceCommand::signIn, "Start signing in to the access portal."},
    {"sync", InstanceCommand::sync, "Sync the accounts and roles now."},
}};

} // namespace

CommandLine::CommandLine()
{
    m_parser.setApplicationDescription(
        QStringLiteral("Every AWS account and role from IAM Identity Center, one click from the "
                       "system tray.\n\nWith an action option, the running Tessera carries it "
                       "out; Tessera is started first when it is not running."));
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    for (const CommandOption &option : commandOptions) {
        m_parser.addOption(QCommandLineOption(QString::fromLatin1(option.name),
                                              QString::fromLatin1(option.description)));
    }
    m_parser.addOption(QCommandLineOption(
        printConsoleURLOption,
        QStringLiteral("Print the AWS console link for ACCOUNT (an account id) and ROLE, "
                       "optionally for a console SERVICE (its name, as in the menu) and "
                       "REGION, and exit. Uses the start URL and regions from Settings.")));
    m_parser.addOption(QCommandLineOption(
        inertOption, QStringLiteral("Start without reading, migrating or scheduling anything "
                                    "and without a user interface (for automated tests; "
                                    "TESSERA_INERT=1 does the same).")));
    // The usage line reads "[ACCOUNT ROLE [SERVICE] [REGION]]".
    m_parser.addPositionalArgument(QStringLiteral("ACCOUNT"),
                                   QStringLiteral("With --print-console-url: the account id."),
                                   QStringLiteral("[ACCOUNT"));
    m_parser.addPositionalArgument(QStringLiteral("ROLE"), QStringLiteral("The role name."));
    m_parser.addPositionalArgument(
        QStringLiteral("SERVICE"),
        QStringLiteral("A console service, e.g. \"EC2\" or \"Load Balancers\"; the console "
                       "home page when absent or empty."),
        QStringLiteral("[SERVICE]"));
    m_parser.addPositionalArgument(
        QStringLiteral("REGION"),
        QStringLiteral("A region id, e.g. \"eu-west-1\"; the account's console region when "
                       "absent."),
        QStringLiteral("[REGION]]"));
}

CommandLineRequest CommandLine::parse(const QStringList &arguments)
{
    using Action = CommandLineRequest::Action;
    CommandLineRequest request;
    const auto fail = [&request](const QString &error) {
        request.action = Action::usageError;
        request.error = error;
        return request;
    };
    if (!m_parser.parse(arguments)) {
        return fail(m_parser.errorText());
    }
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all"))) {
        request.action = Action::showHelp;
        return request;
    }
    if (m_parser.isSet(QStringLiteral("version"))) {
        request.action = Action::showVersion;
        return request;
    }
    request.inert = m_parser.isSet(inertOption);

    QStringList commands;
    for (const CommandOption &option : commandOptions) {
        if (m_parser.isSet(QString::fromLatin1(option.name))) {
            commands.append(QStringLiteral("--") + QString::fromLatin1(option.name));
            request.command = option.command;
        }
    }
    const QStringList positional = m_parser.positionalArguments();
    if (m_parser.isSet(printConsoleURLOption)) {
        if (!commands.isEmpty()) {
            return fail(QStringLiteral("--print-console-url cannot be combined with %1.")
                            .arg(commands.join(QStringLiteral(", "))));
        }
        if (positional.size() < 2 || positional.size() > 4) {
            return fail(
                QStringLiteral("--print-console-url expects ACCOUNT ROLE [SERVICE] [REGION]."));
        }
        request.action = Action::printConsoleURL;
        request.consoleURLArguments = positional;
        return request;
    }
    if (commands.size() > 1) {
        return fail(QStringLiteral("Give one of %1, not several.")
                        .arg(commands.join(QStringLiteral(", "))));
    }
    if (!positional.isEmpty()) {
        return fail(QStringLiteral("Unexpected argument \"%1\".").arg(positional.first()));
    }
    return request;
}

bool CommandLine::runsWithoutDisplay(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        return false;
    }
    CommandLine probe;
    const CommandLineRequest request = probe.parse(arguments);
    if (request.action != CommandLineRequest::Action::usageError) {
        return request.action != CommandLineRequest::Action::start;
    }
    // Qt's own options (-platform, -display, -style, ...) are single-dash words that only
    // the application object takes away; with one of them, parsing waits for it.
    static const QRegularExpression qtOption(QStringLiteral("^-[a-z]{2,}$"));
    return std::none_of(arguments.cbegin() + 1, arguments.cend(), [](const QString &argument) {
        return qtOption.match(argument).hasMatch();
    });
}

} // namespace tessera
