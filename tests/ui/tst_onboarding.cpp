#include "quicksearch/hotkeypreset.h"
#include "storage/settings.h"
#include "support/viewteststore.h"
#include "ui/onboardingvalidation.h"
#include "ui/onboardingview.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace tessera;
using Step = OnboardingView::Step;

namespace {

struct Fixture
{
    test::ViewTestStore stores;
    int hotKeyApplications = 0;
    std::unique_ptr<OnboardingView> view;

    explicit Fixture(const std::function<void(SettingsStore &)> &prepare = {})
    {
        registerTesseraDefaults(*stores.settings);
        if (prepare) {
            prepare(*stores.settings);
        }
        view = std::make_unique<OnboardingView>(
            stores.store.get(), OnboardingView::Actions{[this] { ++hotKeyApplications; }, {}});
        view->show();
    }
    SettingsStore &settings() { return *stores.settings; }
    template<typename T> T *child(const char *name)
    {
        return view->findChild<T *>(QLatin1String(name));
    }
    void typeInto(const char *field, const QString &text)
    {
        auto *edit = child<QLineEdit>(field);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    void pick(const char *picker, const QVariant &data)
    {
        auto *box = child<QComboBox>(picker);
        const int index = box->findData(data);
        QVERIFY(index >= 0);
        box->setCurrentIndex(index);
        Q_EMIT box->activated(index);
    }
};

} // namespace

class TestOnboarding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startURLValidation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("portal") << QStringLiteral("https://acme.awsapps.com/start") << true;
        QTest::newRow("fragment and slashes")
            << QStringLiteral("  https://acme.awsapps.com/start//#/ ") << true;
        QTest::newRow("plain http") << QStringLiteral("http://acme.awsapps.com/start") << false;
        QTest::newRow("no host") << QStringLiteral("https:///start") << false;
        QTest::newRow("no scheme") << QStringLiteral("acme.awsapps.com/start") << false;
        QTest::newRow("empty") << QStringLiteral("") << false;
        QTest::newRow("fragment only") << QStringLiteral("#https://acme.awsapps.com") << false;
    }

    void startURLValidation()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(isValidStartURLText(text), valid);
    }

    void regionValidation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << QStringLiteral("eu-central-1") << true;
        QTest::newRow("surrounding blanks") << QStringLiteral(" us-gov-west-1\n") << true;
        QTest::newRow("capitals") << QStringLiteral("US-WEST-1") << false;
        QTest::newRow("no number") << QStringLiteral("us-west") << false;
        QTest::newRow("trailing text") << QStringLiteral("us-west-1x") << false;
        QTest::newRow("empty") << QStringLiteral("") << false;
    }

    void regionValidation()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(isValidOnboardingRegion(text), valid);
    }

    void portalStepGatesContinueAndStoresTheNormalizedURL()
    {
        Fixture f;
        auto *next = f.child<QPushButton>("continue");
        QVERIFY(f.child<QPushButton>("back")->isHidden());
        next->click();
        QCOMPARE(f.view->step(), Step::portal);

        // Untouched region keeps the valid fallback; an empty start URL blocks.
        QCOMPARE(f.child<QLineEdit>("region")->text(), QStringLiteral("us-west-1"));
        QVERIFY(!next->isEnabled());
        QCOMPARE(f.child<QLabel>("startUrlCaption")->text(),
                 QStringLiteral("Enter the full https:// URL of your access portal."));

        f.typeInto("startUrl", QStringLiteral("http://acme.awsapps.com/start"));
        QVERIFY(!next->isEnabled());
        f.typeInto("startUrl", QStringLiteral("https://acme.awsapps.com/start//#/"));
        QVERIFY(next->isEnabled());
        QCOMPARE(f.child<QLabel>("startUrlCaption")->text(),
                 QStringLiteral("This is the address of your organization's AWS access portal."));
        // Saved as typed while typing.
        QCOMPARE(f.settings().string(QStringLiteral("startUrl")),
                 std::optional(QStringLiteral("https://acme.awsapps.com/start//#/")));

        f.typeInto("region", QStringLiteral("EU-WEST-1"));
        QVERIFY(!next->isEnabled());
        QCOMPARE(f.child<QLabel>("regionCaption")->text(),
                 QStringLiteral("Doesn't look like an AWS region (example: us-west-1)."));
        f.view->goOn();
        QCOMPARE(f.view->step(), Step::portal);

        f.typeInto("region", QStringLiteral("eu-west-1"));
        QCOMPARE(f.settings().string(QStringLiteral("ssoRegion")),
                 std::optional(QStringLiteral("eu-west-1")));
        next->click();
        QCOMPARE(f.view->step(), Step::signIn);
        QCOMPARE(f.settings().string(QStringLiteral("startUrl")),
                 std::optional(QStringLiteral("https://acme.awsapps.com/start")));

        f.child<QPushButton>("back")->click();
        QCOMPARE(f.view->step(), Step::portal);
    }

    void signInStepFollowsTheSession()
    {
        Fixture f;
        AccountStore &store = *f.stores.store;
        auto *signIn = f.child<QWidget>("signedOut");
        auto *detail = f.child<QLabel>("signedInDetail");
        QVERIFY(!signIn->isHidden());
        QVERIFY(f.child<QWidget>("signingIn")->isHidden());

        store.setErrorMessage(QStringLiteral("Set your start URL first."));
        QCOMPARE(f.child<QLabel>("errorLine")->text(), QStringLiteral("Set your start URL first."));

        f.stores.setSession(AccountStoreSession::signingIn(QStringLiteral("QRST")));
        QVERIFY(signIn->isHidden());
        QVERIFY(!f.child<QWidget>("signingIn")->isHidden());
        QCOMPARE(f.child<QLabel>("userCode")->text(), QStringLiteral("QRST"));

        f.stores.setSession(AccountStoreSession::signedIn());
        f.stores.setSyncing(true);
        QVERIFY(!f.child<QWidget>("signedIn")->isHidden());
        QCOMPARE(detail->text(), QStringLiteral("Syncing your accounts…"));
        f.stores.setAccounts({{QStringLiteral("1"), QStringLiteral("A"), {}},
                              {QStringLiteral("2"), QStringLiteral("B"), {}}});
        f.stores.setSyncing(false);
        QCOMPARE(detail->text(), QStringLiteral("2 accounts available"));
    }

    void preferencesAndFinish()
    {
        // A view opened later shows what was stored before.
        Fixture f([](SettingsStore &settings) {
            settings.setString(QStringLiteral("startUrl"),
                               QStringLiteral("https://acme.awsapps.com/start"));
        });

        for (int i = 0; i < 3; ++i) {
            f.view->goOn();
        }
        QCOMPARE(f.view->step(), Step::preferences);

        // Each hotkey choice shows the desktop's own notation beside the label.
        auto *hotkeys = f.child<QComboBox>("hotkeyPicker");
        QCOMPARE(hotkeys->count(), hotKeyPresets().size());
        QCOMPARE(hotkeys->currentData().toString(), QStringLiteral("opt-space"));
        QVERIFY(hotkeys->currentText().contains(QStringLiteral("Alt+Space")));
        QVERIFY(hotkeys->currentText().startsWith(QStringLiteral("\u2325 Space")));

        f.pick("syncPicker", 360);
        QCOMPARE(f.settings().integer(QStringLiteral("syncMinutes")), 360);
        f.pick("hotkeyPicker", QStringLiteral("ctrl-opt-a"));
        QCOMPARE(f.settings().string(QStringLiteral("quickSearchHotkey")),
                 std::optional(QStringLiteral("ctrl-opt-a")));

        f.view->goOn();
        QCOMPARE(f.view->step(), Step::done);
        QVERIFY(f.child<QPushButton>("continue")->isHidden());
        auto *hotkeyLine = f.child<QLabel>("hotkeyLine");
        QVERIFY(!hotkeyLine->isHidden());
        QVERIFY(hotkeyLine->text().startsWith(QStringLiteral("Or press \u2303\u2325 A")));
        QVERIFY(hotkeyLine->text().contains(QStringLiteral("Ctrl+Alt+A")));

        f.view->goBack();
        f.pick("hotkeyPicker", QStringLiteral("off"));
        f.view->goOn();
        QVERIFY(hotkeyLine->isHidden());

        QVERIFY(!f.settings().boolean(QStringLiteral("onboardingComplete")));
        QVERIFY(!f.stores.store->accountSync().timerInterval());
        f.child<QPushButton>("finish")->click();
        QVERIFY(f.settings().boolean(QStringLiteral("onboardingComplete")));
        QCOMPARE(f.hotKeyApplications, 1);
        QVERIFY(!f.view->isVisible());
    }

    void finishWithManualSyncLeavesTheTimerOff()
    {
        Fixture f;
        f.pick("syncPicker", 0);
        f.view->finish();
        QVERIFY(f.settings().boolean(QStringLiteral("onboardingComplete")));
        QVERIFY(!f.stores.store->accountSync().timerInterval());
    }

    void hotKeyPresetLookup_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("chord");
        QTest::newRow("default") << QStringLiteral("opt-space") << QStringLiteral("opt-space")
                                 << QStringLiteral("Alt+Space");
        QTest::newRow("unknown") << QStringLiteral("cmd-space") << QStringLiteral("opt-space")
                                 << QStringLiteral("Alt+Space");
        QTest::newRow("absent") << QStringLiteral("") << QStringLiteral("opt-space")
                                << QStringLiteral("Alt+Space");
        QTest::newRow("off") << QStringLiteral("off") << QStringLiteral("off")
                             << QStringLiteral("");
        QTest::newRow("ctrl") << QStringLiteral("ctrl-space") << QStringLiteral("ctrl-space")
                              << QStringLiteral("Ctrl+Space");
        QTest::newRow("super") << QStringLiteral("opt-cmd-k") << QStringLiteral("opt-cmd-k")
                               << QStringLiteral("Meta+Alt+K");
    }

    void hotKeyPresetLookup()
    {
        QFETCH(QString, stored);
        QFETCH(QString, id);
        QFETCH(QString, chord);
        const HotKeyPreset &preset = hotKeyPreset(stored);
        QCOMPARE(preset.id, id);
        QCOMPARE(preset.nativeChordText(), chord);
    }

    void hotKeyPresetTable()
    {
        QStringList ids;
        for (const HotKeyPreset &preset : hotKeyPresets()) {
            ids.append(preset.id);
        }
        QCOMPARE(ids.join(QLatin1Char(',')),
                 QStringLiteral("off,opt-space,ctrl-space,opt-cmd-space,opt-cmd-k,ctrl-opt-a"));
        const HotKeyPreset &chord = hotKeyPreset(QStringLiteral("ctrl-opt-a"));
        QCOMPARE(chord.label, QStringLiteral("\u2303\u2325 A"));
        QCOMPARE(chord.keyCode, 0u);
        QCOMPARE(chord.carbonModifiers, 6144u);
        QCOMPARE(hotKeyPreset(QStringLiteral("opt-cmd-space")).carbonModifiers, 2304u);
        QVERIFY(hotKeyPreset(QStringLiteral("off")).isOff());
        QVERIFY(!chord.isOff());
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
