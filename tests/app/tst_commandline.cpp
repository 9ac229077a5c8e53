// The command line: what each option asks for, and the console links it prints.
#include "app/commandline.h"
#include "app/consoleurlcommand.h"
#include "storage/settings.h"

#include <QTest>

using namespace tessera;
using Action = CommandLineRequest::Action;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<InstanceCommand>("command");
        QTest::addColumn<bool>("inert");
        QTest::addColumn<bool>("withoutDisplay");
        const auto row = [](const char *name, QStringList arguments, Action action,
                            InstanceCommand command, bool inert, bool withoutDisplay) {
            arguments.prepend(QStringLiteral("tessera"));
            QTest::newRow(name) << arguments << action << command << inert << withoutDisplay;
        };
        using C = InstanceCommand;
        row("nothing", {}, Action::start, C::reopen, false, false);
        row("show", {QStringLiteral("--show")}, Action::start, C::show, false, false);
        row("settings, inert", {QStringLiteral("--settings"), QStringLiteral("--inert")},
            Action::start, C::settings, true, false);
        row("sync", {QStringLiteral("--sync")}, Action::start, C::sync, false, false);
        row("two commands", {QStringLiteral("--sync"), QStringLiteral("--show")},
            Action::usageError, C::sync, false, true);
        row("help", {QStringLiteral("-h")}, Action::showHelp, C::reopen, false, true);
        row("version", {QStringLiteral("--version")}, Action::showVersion, C::reopen, false, true);
        row("console link",
            {QStringLiteral("--print-console-url"), QStringLiteral("1"), QStringLiteral("R")},
            Action::printConsoleURL, C::reopen, false, true);
        row("console link without a role",
            {QStringLiteral("--print-console-url"), QStringLiteral("1")}, Action::usageError,
            C::reopen, false, true);
        row("console link and a command",
            {QStringLiteral("--print-console-url"), QStringLiteral("1"), QStringLiteral("R"),
             QStringLiteral("--show")},
            Action::usageError, C::show, false, true);
        row("unknown option", {QStringLiteral("--bogus")}, Action::usageError, C::reopen, false,
            true);
        // Qt's own options are taken by the application object, which needs a display.
        row("Qt option", {QStringLiteral("-platform"), QStringLiteral("offscreen")},
            Action::usageError, C::reopen, false, false);
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Action, action);
        QFETCH(InstanceCommand, command);
        QFETCH(bool, inert);
        QFETCH(bool, withoutDisplay);
        CommandLine commandLine;
        const CommandLineRequest request = commandLine.parse(arguments);
        QCOMPARE(request.action, action);
        QCOMPARE(request.error.isEmpty(), action != Action::usageError);
        if (action != Action::usageError) {
            QCOMPARE(request.command, command);
            QCOMPARE(request.inert, inert);
        }
        QCOMPARE(CommandLine::runsWithoutDisplay(arguments), withoutDisplay);
    }

    void consoleLink_data()
    {
        QTest::addColumn<QString>("startUrl");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected"); // the link, or the error
        const QString portal = QStringLiteral("https://corp.awsapps.com/start");
        const QString prefix = portal + QStringLiteral("/#/console?account_id=111122223333&");
        // The account's own region from the organization, home page, "+" encoded.
        QTest::newRow("account region")
            << portal + QStringLiteral("/#x")
            << QStringList{QStringLiteral("111122223333"), QStringLiteral("Ops+1")}
            << prefix + QStringLiteral("role_name=Ops%2B1&destination=https%3A%2F%2Fap-south-1."
                                       "console.aws.amazon.com%2F");
        QTest::newRow("service by name, region given")
            << portal
            << QStringList{QStringLiteral("111122223333"), QStringLiteral("Admin"),
                           QStringLiteral("load balancers"), QStringLiteral(" EU-West-2 ")}
            << prefix + QStringLiteral("role_name=Admin&destination=https%3A%2F%2Feu-west-2."
                                       "console.aws.amazon.com%2Fec2%2Fhome%23LoadBalancers%3A");
        QTest::newRow("empty service is the home page")
            << portal
            << QStringList{QStringLiteral("111122223333"), QStringLiteral("Admin"), QString(),
                           QStringLiteral("us-east-2")}
            << prefix + QStringLiteral("role_name=Admin&destination=https%3A%2F%2Fus-east-2."
                                       "console.aws.amazon.com%2F");
        QTest::newRow("unknown service")
            << portal
            << QStringList{QStringLiteral("1"), QStringLiteral("R"), QStringLiteral("Nope")}
            << QStringLiteral("“Nope” is not a console service Tessera knows.");
        QTest::newRow("bad region") << portal
                                    << QStringList{QStringLiteral("1"), QStringLiteral("R"),
                                                   QStringLiteral("IAM"), QStringLiteral("moon-1")}
                                    << QStringLiteral("“moon-1” is not a valid AWS region.");
        QTest::newRow("blank role")
            << portal << QStringList{QStringLiteral("1"), QStringLiteral(" ")}
            << QStringLiteral("Name an account id and a role.");
    }

    void consoleLink()
    {
        QFETCH(QString, startUrl);
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        InMemorySettingsStore settings;
        registerTesseraDefaults(settings);
        settings.setString(key(settingskey::startUrl), startUrl);
        Organization organization;
        organization.accountConsoleRegions.insert(QStringLiteral("111122223333"),
                                                  QStringLiteral("ap-south-1"));
        const auto result = commandLineConsoleLink(settings, organization, arguments);
        const QString actual = std::holds_alternative<QUrl>(result)
                                   ? std::get<QUrl>(result).toString(QUrl::FullyEncoded)
                                   : std::get<QString>(result);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
