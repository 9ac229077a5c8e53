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
using namespace Qt::StringLiterals;

namespace {
// Launch at login as a switch in memory; `failure`, when set, refuses every change.
struct FakeLoginItem : LoginItem
{
    mutable bool on = false;
    QString failure;

    Status status() const override { return on ? Status::enabled : Status::notRegistered; }
    bool enable(QString *why) const override { return change(true, why); }
    bool disable(QString *why) const override { return change(false, why); }
    bool change(bool wanted, QString *why) const
    {
        if (!failure.isEmpty() && why) {
            *why = failure;
        }
        if (!failure.isEmpty()) {
            return false;
        }
        on = wanted;
        return true;
    }
};

const QString portal = u"https://x.test/start"_s;

struct Fixture
{
    QTemporaryDir folder;
    std::unique_ptr<test::ViewTestStore> stores;
    std::unique_ptr<SettingsView> view;

    explicit Fixture(const std::function<void(SettingsStore &)> &prepare = {})
    {
        qputenv("XDG_DATA_HOME", folder.filePath(u"data"_s).toUtf8());
        qputenv("XDG_CONFIG_HOME", folder.filePath(u"config"_s).toUtf8());
        stores = std::make_unique<test::ViewTestStore>(folder.filePath(u"organization.json"_s));
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
    QString configPath() const { return folder.filePath(u"aws/config"_s); }
    template<typename T> T *child(const QString &name) { return view->findChild<T *>(name); }
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
    bool openProfilesPage()
    {
        stores->setAccounts(sampleAccounts());
        view->selectSection(SettingsView::Section::awsProfiles);
        return settled();
    }
    bool settled()
    {
        return test::processEventsUntil([this] { return !profiles().isPlanning(); }, 20000);
    }
    void pickMode(const QString &raw)
    {
        auto *box = child<QComboBox>(u"managementMode"_s);
        box->setCurrentIndex(box->findData(raw));
        Q_EMIT box->activated(box->currentIndex());
    }
    static QList<AWSAccount> sampleAccounts()
    {
        return {AWSAccount{u"111111111111"_s, u"Payments"_s, {u"Admin"_s, u"ReadOnly"_s}},
                AWSAccount{u"222222222222"_s, u"Audit"_s, {u"SecurityAudit"_s}}};
    }
};

// AWS profiles managed in the config file itself.
void managed(SettingsStore &settings)
{
    settings.setString(key(settingskey::awsConfigManagementMode), u"native"_s);
}

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
        const auto row = [](const char *name, const char *field, const QString &settingKey,
                            const char *typed, const char *stored) {
            QTest::newRow(name) << QString::fromUtf8(field) << settingKey
                                << QString::fromUtf8(typed)
                                << (stored ? QString::fromUtf8(stored) : QString());
        };
        const QString url = key(settingskey::startUrl);
        row("url normalised", "startUrl", url, "  https://acme.test/start/#/ ",
            "https://acme.test/start");
        row("url with a line break", "startUrl", url, "https://acme.test/start\n[profile x]",
            nullptr);
        row("plain http", "startUrl", url, "http://acme.test/start", nullptr);
        const QString region = key(settingskey::ssoRegion);
        row("region trimmed, lower-cased", "region", region, "  EU-Central-1 ", "eu-central-1");
        row("region with a line break", "region", region, "us-east-1\nsso_region = x", nullptr);
        // Checked by the same rule as the identity center's region.
        row("cli region", "cliRegion", key(settingskey::awsProfileCLIRegion), " US-West-2",
            "us-west-2");
    }
    void fieldsStoreWhatTheyAcceptAndRefuseTheRest()
    {
        QFETCH(QString, field);
        QFETCH(QString, settingKey);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        const QString before = u"before"_s;
        Fixture f([&](SettingsStore &s) { s.setString(settingKey, before); });
        f.view->selectSection(field == QLatin1String("cliRegion")
                                  ? SettingsView::Section::awsProfiles
                                  : SettingsView::Section::general);
        f.store().setErrorMessage(startURLMissingMessage());
        f.submit(field, typed);
        // Saving a usable portal address takes back the complaint that it is missing.
        if (field == QLatin1String("startUrl")) {
            QCOMPARE(f.store().errorMessageOrEmpty().isEmpty(), !stored.isEmpty());
        }
        const QString problem = field + u"Problem"_s;
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
        QTest::newRow("US identity center") << u"us-east-2"_s << u""_s;
        QTest::newRow("EU identity center") << u"eu-central-1"_s << usConsoleRegions().first().id;
    }
    void defaultRegionAfterUSOnlyAndEnableAll()
    {
        QFETCH(QString, identityCenterRegion);
        QFETCH(QString, afterUSOnly);
        Fixture f([&](SettingsStore &s) {
            s.setString(key(settingskey::ssoRegion), identityCenterRegion);
            s.setString(key(settingskey::defaultConsoleRegion), u"eu-west-1"_s);
        });
        f.view->selectSection(SettingsView::Section::regions);
        f.child<QPushButton>(u"usOnly"_s)->click();
        const auto enabled = [&f] {
            return enabledConsoleRegions(f.store().organization().disabledConsoleRegionIds).size();
        };
        QCOMPARE(enabled(), usConsoleRegions().size());
        QCOMPARE(f.shown("regionCount"), u"%1 enabled"_s.arg(enabled()));
        QCOMPARE(f.settings().string(key(settingskey::defaultConsoleRegion)), afterUSOnly);

        f.view->regionsPage()->picker()->setSelection(u"us-west-2"_s);
        f.child<QPushButton>(u"enableAll"_s)->click();
        QCOMPARE(enabled(), consoleRegionCatalog().size());
        QCOMPARE(f.settings().string(key(settingskey::defaultConsoleRegion)), u"us-west-2"_s);
    }

    void theLastEnabledRegionStaysOn()
    {
        Fixture f;
        f.store().setEnabledConsoleRegions({u"eu-west-1"_s});
        auto *last = f.child<QCheckBox>(u"region:eu-west-1"_s);
        QVERIFY(last->isChecked());
        QVERIFY(!last->isEnabled());
        last->setChecked(false);
        QVERIFY(last->isChecked());
        QVERIFY(!f.store().organization().disabledConsoleRegionIds.contains(u"eu-west-1"_s));

        f.child<QCheckBox>(u"region:us-east-1"_s)->click();
        QVERIFY(last->isEnabled());
        last->click();
        QVERIFY(f.store().organization().disabledConsoleRegionIds.contains(u"eu-west-1"_s));
    }

    void servicesAreHiddenAndPinnedThroughTheOrganization()
    {
        Fixture f;
        const QString name = consoleServiceCatalog().at(3).name;
        f.child<QCheckBox>(u"service:"_s + name)->click();
        QCOMPARE(f.store().organization().disabledServiceNames, QStringList{name});
        auto *pin = f.child<QToolButton>(u"pin:"_s + name);
        pin->click();
        QCOMPARE(f.store().organization().pinnedServiceNames, QStringList{name});
        QCOMPARE(pin->toolTip(), u"Unpin"_s);
        QVERIFY(QFile::exists(f.folder.filePath(u"organization.json"_s)));
    }

    void modeOffShowsNothingToApply()
    {
        Fixture f;
        writeFile(f.configPath() + u".tessera-backup-20260101-000000"_s, "[x]\n");
        QVERIFY(f.openProfilesPage());
        QVERIFY(!f.profiles().hasPlan());
        QVERIFY(!f.child<QPushButton>(u"applyChanges"_s)->isEnabled());
        QVERIFY(!f.child<QCheckBox>(u"autoSync"_s)->isEnabled());
        for (const char *hidden : {"grantedLine", "restoreBackup", "removeOrphans",
                                   "conflictWarning", "globalConflicts", "failureMessage"}) {
            QVERIFY2(!f.visible(hidden), hidden);
        }

        // Turning management on previews at once.
        f.pickMode(u"native"_s);
        QVERIFY(f.settled());
        QVERIFY(f.profiles().hasPlan());
        QVERIFY(f.child<QPushButton>(u"applyChanges"_s)->isEnabled());
        QVERIFY(f.child<QCheckBox>(u"autoSync"_s)->isEnabled());
        QVERIFY(f.visible("restoreBackup"));
    }

    void aPlanForOutdatedInputsIsDropped()
    {
        Fixture f(managed);
        f.stores->setAccounts(Fixture::sampleAccounts());
        f.profiles().refresh();
        QVERIFY(f.profiles().isPlanning());
        // Turned off before that plan arrives: it must not come back when it does.
        f.pickMode(u"off"_s);
        QVERIFY(!f.profiles().isPlanning());
        QTest::qWait(200);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(!f.profiles().hasPlan());
        QVERIFY(!f.child<QPushButton>(u"applyChanges"_s)->isEnabled());
    }

    void typingAloneDoesNotPreview()
    {
        Fixture f(managed);
        QVERIFY(f.openProfilesPage());
        auto *field = f.child<QLineEdit>(u"namingTemplate"_s);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, u"{accountId}-{role|lower}"_s);
        QVERIFY(!f.profiles().isPlanning());
        QCOMPARE(f.shown("exampleName"), u"222222222222-securityaudit"_s);
        QCOMPARE(f.settings().string(key(settingskey::awsProfileNamingTemplate)),
                 u"{accountId}-{role|lower}"_s);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(f.settled());
        QCOMPARE(f.profiles().plan()->candidates.first().name, u"222222222222-securityaudit"_s);
    }

    void applyApplyAgainAndRestore()
    {
        Fixture f(managed);
        const QByteArray original("# mine\n[default]\nregion = eu-west-1\n");
        writeFile(f.configPath(), original);
        QVERIFY(f.openProfilesPage());
        QVERIFY(!f.visible("restoreBackup"));
        auto *apply = f.child<QPushButton>(u"applyChanges"_s);

        apply->click();
        QVERIFY(test::processEventsUntil([&] { return f.visible("resultMessage"); }));
        QCOMPARE(f.shown("resultMessage"), u"AWS config updated and backed up."_s);
        QVERIFY(readFile(f.configPath()).contains("[profile payments-Admin]"));
        QVERIFY(f.visible("restoreBackup"));

        apply->click();
        QVERIFY(test::processEventsUntil([&] {
            return f.shown("resultMessage") ==
                   u"Profile mappings saved; the config was already current."_s;
        }));

        f.child<QPushButton>(u"restoreBackup"_s)->click();
        QVERIFY(test::processEventsUntil([&] {
            return f.shown("resultMessage") == u"The previous AWS config was restored."_s;
        }));
        QCOMPARE(readFile(f.configPath()), original);
    }

    void launchAtLoginSaysWhyItStaysOff()
    {
        const auto item = std::make_shared<FakeLoginItem>();
        LaunchAtLoginToggle toggle(item);
        toggle.setOn(true);
        QVERIFY(toggle.isOn() && !toggle.statusMessage());
        toggle.setOn(false);
        QVERIFY(!toggle.isOn() && !item->on);

        item->failure = u"The folder could not be created."_s;
        toggle.setOn(true);
        QVERIFY(!toggle.isOn());
        QVERIFY(toggle.statusMessage()->startsWith(
            u"Could not enable launch at login: The folder could not be created."_s));
        // The desktop's own settings switched it on meanwhile: shown when the page shows.
        item->on = true;
        toggle.reloadStatus();
        QVERIFY(toggle.isOn());
    }

    void oneWindowThatReadsSettingsAfreshWhenReopened()
    {
        test::ViewTestStore stores;
        registerTesseraDefaults(*stores.settings);
        DesktopShell shell(stores.store.get(), {});
        shell.start(false);
        shell.showSettings();
        QPointer<QWidget> first = shell.settingsWindow();
        shell.showSettings();
        QCOMPARE(shell.settingsWindow(), first.data());

        stores.settings->setString(key(settingskey::startUrl), portal);
        first->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);
        shell.showSettings();
        QCOMPARE(shell.settingsWindow()->findChild<QLineEdit *>(u"startUrl"_s)->text(), portal);
        shell.settingsWindow()->findChild<QCheckBox *>(u"desktopNotifications"_s)->click();
        QVERIFY(!stores.settings->boolean(key(settingskey::desktopNotifications)));
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
