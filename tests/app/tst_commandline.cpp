// The command line: what each option asks for, and the console links it prints.
#include "app/commandline.h"
#include "app/consoleurlcommand.h"
#include "storage/settings.h"

#include <QTest>

using namespace tessera;
using namespace Qt::StringLiterals;
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
        // Arguments after the program's name, separated by blanks.
        const auto row = [](const char *name, const char *arguments, Action action,
                            InstanceCommand command, bool inert, bool withoutDisplay) {
            const QString line = u"tessera "_s + QString::fromUtf8(arguments);
            QTest::newRow(name) << line.split(QLatin1Char(' '), Qt::SkipEmptyParts) << action
                                << command << inert << withoutDisplay;
        };
        using C = InstanceCommand;
        row("nothing", "", Action::start, C::reopen, false, false);
        row("settings, inert", "--settings --inert", Action::start, C::settings, true, false);
        row("two commands", "--sync --show", Action::usageError, C::sync, false, true);
        row("help", "-h", Action::showHelp, C::reopen, false, true);
        row("version", "--version", Action::showVersion, C::reopen, false, true);
        row("console link", "--print-console-url 1 R", Action::printConsoleURL, C::reopen, false,
            true);
        row("console link without a role", "--print-console-url 1", Action::usageError, C::reopen,
            false, true);
        row("console link and a command", "--print-console-url 1 R --show", Action::usageError,
            C::show, false, true);
        row("unknown option", "--bogus", Action::usageError, C::reopen, false, true);
        // Qt's own options are taken by the application object, which needs a display.
        row("Qt option", "-platform offscreen", Action::usageError, C::reopen, false, false);
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
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected"); // the link, or the error
        const QString portal = u"https://corp.awsapps.com/start"_s;
        const QString prefix = portal + u"/#/console?account_id=111122223333&"_s;
        // Arguments separated by "|".
        const auto row = [](const char *name, const char *arguments, const QString &expected) {
            QTest::newRow(name) << QString::fromUtf8(arguments).split(QLatin1Char('|')) << expected;
        };
        // The account's own region from the organization, home page, "+" encoded.
        row("account region", "111122223333|Ops+1",
            prefix + u"role_name=Ops%2B1&destination=https%3A%2F%2Fap-south-1."
                     "console.aws.amazon.com%2F"_s);
        row("service by name, region given", "111122223333|Admin|load balancers| EU-West-2 ",
            prefix + u"role_name=Admin&destination=https%3A%2F%2Feu-west-2."
                     "console.aws.amazon.com%2Fec2%2Fhome%23LoadBalancers%3A"_s);
        row("empty service is the home page", "111122223333|Admin||us-east-2",
            prefix + u"role_name=Admin&destination=https%3A%2F%2Fus-east-2."
                     "console.aws.amazon.com%2F"_s);
        row("unknown service", "1|R|Nope", u"“Nope” is not a console service Tessera knows."_s);
        row("bad region", "1|R|IAM|moon-1", u"“moon-1” is not a valid AWS region."_s);
        row("blank role", "1| ", u"Name an account id and a role."_s);
    }

    void consoleLink()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        InMemorySettingsStore settings;
        registerTesseraDefaults(settings);
        // The portal's fragment is dropped from the links.
        settings.setString(key(settingskey::startUrl), u"https://corp.awsapps.com/start/#x"_s);
        Organization organization;
        organization.accountConsoleRegions.insert(u"111122223333"_s, u"ap-south-1"_s);
        const auto result = commandLineConsoleLink(settings, organization, arguments);
        const QString actual = std::holds_alternative<QUrl>(result)
                                   ? std::get<QUrl>(result).toString(QUrl::FullyEncoded)
                                   : std::get<QString>(result);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
