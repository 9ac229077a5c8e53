// The settings window against a real account store (organization file in a temporary
// folder) and in-memory settings.
#include "awsconfig/awsconfigdocument.h"
#include "awsconfig/awsconfigmanager.h"
#include "storage/settings.h"
#include "support/testsupport.h"
#include "support/viewteststore.h"
#include "ui/awsprofilessettingsview.h"
#include "ui/defaultconsoleregionpicker.h"
#include "ui/desktopshell.h"
#include "ui/generalsettingspage.h"
#include "ui/launchatlogintoggle.h"
#include "ui/regionssettingspage.h"
#include "ui/servicessettingspage.h"
#include "ui/settingsview.h"
#include "ui/windowfocus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QToolButton>
#include <QtTest>

using namespace tessera;

namespace {

const QString portal = QStringLiteral("https://x.test/start");

struct Fixture
{
    QTemporaryDir folder;
    std::unique_ptr<test::ViewTestStore> stores;
    std::unique_ptr<SettingsView> view;

    explicit Fixture(const std::function<void(SettingsStore &)> &prepare = {})
    {
        qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toUtf8());
        stores = std::make_unique<test::ViewTestStore>(
            folder.filePath(QStringLiteral("organization.json")));
        registerTesseraDefaults(settings());
        settings().setString(key(settingskey::startUrl), portal);
        settings().setString(key(settingskey::awsConfigPath), configPath());
        if (prepare) {
            prepare(settings());
        }
        view = std::make_unique<SettingsView>(stores->store.get());
        view->show();
    }
    SettingsStore &settings() { return *stores->settings; }
    AccountStore &store() { return *stores->store; }
    QString configPath() const { return folder.filePath(QStringLiteral("aws/config")); }
    template<typename T> T *child(const QString &name)
    {
        auto *found = view->findChild<T *>(name);
        if (!found) {
            qWarning() << "no child" << name;
        }
        return found;
    }
    void submit(const QString &field, const QString &text)
    {
        auto *edit = child<QLineEdit>(field);
        edit->setFocus();
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QString shown(const char *label) { return child<QLabel>(QLatin1String(label))->text(); }
    bool visible(const char *name) { return !child<QWidget>(QLatin1String(name))->isHidden(); }
    AWSProfilesPageModel &profiles() { return view->awsProfilesPage()->model(); }
    // Shows the AWS Profiles page and waits for its preview.
    bool openProfilesPage(QList<AWSAccount> accounts = sampleAccounts())
    {
        stores->setAccounts(std::move(accounts));
        view->selectSection(SettingsView::Section::awsProfiles);
        return settled();
    }
    bool settled()
    {
        return test::processEventsUntil([this] { return !profiles().isPlanning(); }, 20000);
    }
    void pickMode(const QString &raw)
    {
        auto *box = child<QComboBox>(QStringLiteral("managementMode"));
        box->setCurrentIndex(box->findData(raw));
        Q_EMIT box->activated(box->currentIndex());
    }
    static QList<AWSAccount> sampleAccounts()
    {
        return {AWSAccount{QStringLiteral("111111111111"),
                           QStringLiteral("Payments"),
                           {QStringLiteral("Admin"), QStringLiteral("ReadOnly")}},
                AWSAccount{QStringLiteral("222222222222"),
                           QStringLiteral("Audit"),
                           {QStringLiteral("SecurityAudit")}}};
    }
};

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSettingsView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fieldsStoreWhatTheyAcceptAndRefuseTheRest_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("settingKey");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // null: refused, the setting keeps its value
        const QString url = QStringLiteral("startUrl");
        const QString urlKey = key(settingskey::startUrl);
        QTest::newRow("url normalised")
            << url << urlKey << QStringLiteral("  https://acme.test/start/#/ ")
            << QStringLiteral("https://acme.test/start");
        QTest::newRow("url cleared") << url << urlKey << QStringLiteral(" ") << QStringLiteral("");
        QTest::newRow("url with a space")
            << url << urlKey << QStringLiteral("https://acme.test/my start") << QString();
        QTest::newRow("url with a line break")
            << url << urlKey << QStringLiteral("https://acme.test/start\n[profile x]") << QString();
        QTest::newRow("plain http")
            << url << urlKey << QStringLiteral("http://acme.test/start") << QString();
        const QString region = QStringLiteral("region");
        const QString regionKey = key(settingskey::ssoRegion);
        QTest::newRow("region trimmed, lower-cased")
            << region << regionKey << QStringLiteral("  EU-Central-1 ")
            << QStringLiteral("eu-central-1");
        QTest::newRow("region empty") << region << regionKey << QString() << QString();
        QTest::newRow("region with a line break")
            << region << regionKey << QStringLiteral("us-east-1\nsso_region = x") << QString();
        QTest::newRow("region with punctuation")
            << region << regionKey << QStringLiteral("us-east-1;x") << QString();
        const QString cli = QStringLiteral("cliRegion");
        const QString cliKey = key(settingskey::awsProfileCLIRegion);
        QTest::newRow("cli region")
            << cli << cliKey << QStringLiteral(" US-West-2") << QStringLiteral("us-west-2");
        QTest::newRow("cli region unset") << cli << cliKey << QString() << QStringLiteral("");
        QTest::newRow("cli region with a line break")
            << cli << cliKey << QStringLiteral("us-west-2\r\n[x]") << QString();
    }
    void fieldsStoreWhatTheyAcceptAndRefuseTheRest()
    {
        QFETCH(QString, field);
        QFETCH(QString, settingKey);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        const QString before = QStringLiteral("before");
        Fixture f([&](SettingsStore &s) { s.setString(settingKey, before); });
        f.view->selectSection(field == QLatin1String("cliRegion")
                                  ? SettingsView::Section::awsProfiles
                                  : SettingsView::Section::general);
        f.submit(field, typed);
        const QString problem =
            field == QLatin1String("startUrl") ? QStringLiteral("startUrlProblem")
            : field == QLatin1String("region") ? QStringLiteral("regionProblem")
                                               : QStringLiteral("cliRegionProblem");
        if (stored.isNull()) {
            QCOMPARE(f.settings().string(settingKey), before);
            QVERIFY(!f.child<QLabel>(problem)->isHidden());
            QVERIFY(!f.child<QLabel>(problem)->text().isEmpty());
        } else {
            QCOMPARE(f.settings().string(settingKey), stored);
            QCOMPARE(f.child<QLineEdit>(field)->text(), stored);
            QVERIFY(f.child<QLabel>(problem)->isHidden());
        }
    }

    void defaultRegionAfterUSOnlyAndEnableAll_data()
    {
        QTest::addColumn<QString>("identityCenterRegion");
        QTest::addColumn<QString>("afterUSOnly");
        QTest::newRow("US identity center") << QStringLiteral("us-east-2") << QStringLiteral("");
        QTest::newRow("EU identity center")
            << QStringLiteral("eu-central-1") << usConsoleRegions().first().id;
    }
    void defaultRegionAfterUSOnlyAndEnableAll()
    {
        QFETCH(QString, identityCenterRegion);
        QFETCH(QString, afterUSOnly);
        Fixture f([&](SettingsStore &s) {
            s.setString(key(settingskey::ssoRegion), identityCenterRegion);
            s.setString(key(settingskey::defaultConsoleRegion), QStringLiteral("eu-west-1"));
        });
        f.view->selectSection(SettingsView::Section::regions);
        f.child<QPushButton>(QStringLiteral("usOnly"))->click();
        const auto enabled = [&f] {
            return enabledConsoleRegions(f.store().organization().disabledConsoleRegionIds).size();
        };
        QCOMPARE(enabled(), usConsoleRegions().size());
        QCOMPARE(f.shown("regionCount"), QStringLiteral("%1 enabled").arg(enabled()));
        QCOMPARE(f.settings().string(key(settingskey::defaultConsoleRegion)), afterUSOnly);

        f.view->regionsPage()->picker()->setSelection(QStringLiteral("us-west-2"));
        f.child<QPushButton>(QStringLiteral("enableAll"))->click();
        QCOMPARE(enabled(), consoleRegionCatalog().size());
        QCOMPARE(f.settings().string(key(settingskey::defaultConsoleRegion)),
                 QStringLiteral("us-west-2"));
    }

    void theLastEnabledRegionStaysOn()
    {
        Fixture f;
        f.store().setEnabledConsoleRegions({QStringLiteral("eu-west-1")});
        auto *last = f.child<QCheckBox>(QStringLiteral("region:eu-west-1"));
        QVERIFY(last->isChecked());
        QVERIFY(!last->isEnabled());
        last->setChecked(false);
        QVERIFY(last->isChecked());
        QVERIFY(!f.store().organization().disabledConsoleRegionIds.contains(
            QStringLiteral("eu-west-1")));

        f.child<QCheckBox>(QStringLiteral("region:us-east-1"))->click();
        QVERIFY(last->isEnabled());
        last->click();
        QVERIFY(f.store().organization().disabledConsoleRegionIds.contains(
            QStringLiteral("eu-west-1")));
    }

    void servicesAreHiddenAndPinnedThroughTheOrganization()
    {
        Fixture f;
        const QString name = consoleServiceCatalog().at(3).name;
        f.child<QCheckBox>(QStringLiteral("service:") + name)->click();
        QCOMPARE(f.store().organization().disabledServiceNames, QStringList{name});
        auto *pin = f.child<QToolButton>(QStringLiteral("pin:") + name);
        pin->click();
        QCOMPARE(f.store().organization().pinnedServiceNames, QStringList{name});
        QCOMPARE(pin->toolTip(), QStringLiteral("Unpin"));
        QVERIFY(QFile::exists(f.folder.filePath(QStringLiteral("organization.json"))));
    }

    void modeOffShowsNothingToApply()
    {
        Fixture f;
        writeFile(f.configPath() + QStringLiteral(".tessera-backup-20260101-000000"), "[x]\n");
        QVERIFY(f.openProfilesPage());
        QVERIFY(!f.profiles().hasPlan());
        QVERIFY(!f.child<QPushButton>(QStringLiteral("applyChanges"))->isEnabled());
        QVERIFY(!f.child<QCheckBox>(QStringLiteral("autoSync"))->isEnabled());
        for (const char *hidden : {"grantedLine", "restoreBackup", "removeOrphans",
                                   "conflictWarning", "globalConflicts", "failureMessage"}) {
            QVERIFY2(!f.visible(hidden), hidden);
        }

        // Turning management on previews at once.
        f.pickMode(QStringLiteral("native"));
        QVERIFY(f.settled());
        QVERIFY(f.profiles().hasPlan());
        QVERIFY(f.child<QPushButton>(QStringLiteral("applyChanges"))->isEnabled());
        QVERIFY(f.child<QCheckBox>(QStringLiteral("autoSync"))->isEnabled());
        QVERIFY(f.visible("restoreBackup"));
    }

    void aPlanForOutdatedInputsIsDropped()
    {
        Fixture f([](SettingsStore &s) {
            s.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
        });
        f.stores->setAccounts(Fixture::sampleAccounts());
        f.profiles().refresh();
        QVERIFY(f.profiles().isPlanning());
        // Turned off before that plan arrives: it must not come back when it does.
        f.pickMode(QStringLiteral("off"));
        QVERIFY(!f.profiles().isPlanning());
        QTest::qWait(200);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(!f.profiles().hasPlan());
        QVERIFY(!f.child<QPushButton>(QStringLiteral("applyChanges"))->isEnabled());
    }

    void duplicatedMarkersDisableApply()
    {
        Fixture f([](SettingsStore &s) {
            s.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
        });
        const QByteArray start(managedBlockStartMarker);
        writeFile(f.configPath(), start + "\n" + start + "\n" + managedBlockEndMarker + "\n");
        QVERIFY(f.openProfilesPage());
        QVERIFY(!f.profiles().hasPlan());
        QCOMPARE(f.shown("failureMessage"),
                 AWSConfigManagerError::malformedManagedBlock().description());
        QVERIFY(!f.child<QPushButton>(QStringLiteral("applyChanges"))->isEnabled());
    }

    void typingAloneDoesNotPreview()
    {
        Fixture f([](SettingsStore &s) {
            s.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
        });
        QVERIFY(f.openProfilesPage());
        auto *field = f.child<QLineEdit>(QStringLiteral("namingTemplate"));
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("{accountId}-{role|lower}"));
        QVERIFY(!f.profiles().isPlanning());
        QCOMPARE(f.shown("exampleName"), QStringLiteral("222222222222-securityaudit"));
        QCOMPARE(f.settings().string(key(settingskey::awsProfileNamingTemplate)),
                 QStringLiteral("{accountId}-{role|lower}"));
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(f.settled());
        QCOMPARE(f.profiles().plan()->candidates.first().name,
                 QStringLiteral("222222222222-securityaudit"));
    }

    void applyApplyAgainAndRestore()
    {
        Fixture f([](SettingsStore &s) {
            s.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
        });
        const QByteArray original("# mine\n[default]\nregion = eu-west-1\n");
        writeFile(f.configPath(), original);
        QVERIFY(f.openProfilesPage());
        QVERIFY(!f.visible("restoreBackup"));
        auto *apply = f.child<QPushButton>(QStringLiteral("applyChanges"));

        apply->click();
        QVERIFY(test::processEventsUntil([&] { return f.visible("resultMessage"); }));
        QCOMPARE(f.shown("resultMessage"), QStringLiteral("AWS config updated and backed up."));
        QVERIFY(readFile(f.configPath()).contains("[profile payments-Admin]"));
        const auto backup = AWSConfigManager::latestBackup(f.configPath());
        QVERIFY(backup);
        QVERIFY(f.visible("restoreBackup"));
        QCOMPARE(f.child<QPushButton>(QStringLiteral("restoreBackup"))->toolTip(),
                 QFileInfo(*backup).fileName());

        apply->click();
        QVERIFY(test::processEventsUntil([&] {
            return f.shown("resultMessage") ==
                   QStringLiteral("Profile mappings saved; the config was already current.");
        }));

        f.child<QPushButton>(QStringLiteral("restoreBackup"))->click();
        QVERIFY(test::processEventsUntil([&] {
            return f.shown("resultMessage") ==
                   QStringLiteral("The previous AWS config was restored.");
        }));
        QCOMPARE(readFile(f.configPath()), original);
    }

    void launchAtLoginWritesAndRemovesTheEntry()
    {
        QTemporaryDir folder;
        qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
        const LoginItem item(QStringLiteral("/opt/tessera/bin/tessera"));
        LaunchAtLoginToggle toggle(item);
        QVERIFY(!toggle.isOn());
        toggle.setOn(true);
        QVERIFY(toggle.isOn());
        QVERIFY(!toggle.statusMessage());
        QCOMPARE(item.entryPath(), folder.filePath(QStringLiteral("autostart/tessera.desktop")));
        const QByteArray entry = readFile(item.entryPath());
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.contains("\nExec=/opt/tessera/bin/tessera\n"));
        toggle.setOn(false);
        QVERIFY(!toggle.isOn());
        QVERIFY(!QFile::exists(item.entryPath()));
    }

    void launchAtLoginExplainsAnUnwritableFolder()
    {
        QTemporaryDir folder;
        qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
        // A file where the folder should be: no entry can be written, even by root.
        writeFile(folder.filePath(QStringLiteral("autostart")), "not a folder");
        LaunchAtLoginToggle toggle(LoginItem(QStringLiteral("/usr/bin/tessera")));
        toggle.setOn(true);
        QVERIFY(!toggle.isOn());
        QVERIFY(toggle.statusMessage());
        QVERIFY2(toggle.statusMessage()->startsWith(
                     QStringLiteral("Could not enable launch at login: ")),
                 qPrintable(*toggle.statusMessage()));
        QVERIFY(!toggle.statusMessage()->contains(QStringLiteral(".app")));
    }

    void oneWindowThatReadsSettingsAfreshWhenReopened()
    {
        test::ViewTestStore stores;
        registerTesseraDefaults(*stores.settings);
        DesktopShell shell(stores.store.get(), {});
        shell.start(false);
        // The panel's gear closes the panel and opens the window.
        shell.panel()->findChild<QToolButton *>(QStringLiteral("settingsButton"))->click();
        QVERIFY(test::processEventsUntil([&] { return shell.settingsWindow() != nullptr; }));
        QPointer<QWidget> first = shell.settingsWindow();
        QVERIFY(first->isVisible());
        shell.showSettings();
        QCOMPARE(shell.settingsWindow(), first.data());
        QCOMPARE(findSettingsWindow(), first.data());

        stores.settings->setString(key(settingskey::startUrl), portal);
        first->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);
        shell.showSettings();
        QCOMPARE(shell.settingsWindow()->findChild<QLineEdit *>(QStringLiteral("startUrl"))->text(),
                 portal);
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
