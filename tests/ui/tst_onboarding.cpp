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
using namespace Qt::StringLiterals;
using Step = OnboardingView::Step;

namespace {

struct Fixture
{
    test::ViewTestStore stores;
    int hotKeyApplications = 0;
    std::unique_ptr<OnboardingView> view;

    explicit Fixture(const std::function<void(SettingsStore &)> &prepare = {}, bool hasTray = true)
    {
        registerTesseraDefaults(*stores.settings);
        if (prepare) {
            prepare(*stores.settings);
        }
        view = std::make_unique<OnboardingView>(
            stores.store.get(),
            OnboardingView::Actions{[this] { ++hotKeyApplications; }, {}, {}, hasTray});
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
    // The cases the portal step below does not type.
    void validation_data()
    {
        QTest::addColumn<bool>("url");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        const auto row = [](const char *name, bool url, const char *text, bool valid) {
            QTest::newRow(name) << url << QString::fromUtf8(text) << valid;
        };
        row("no host", true, "https:///start", false);
        row("no scheme", true, "acme.awsapps.com/start", false);
        row("fragment only", true, "#https://acme.awsapps.com", false);
        row("region with surrounding blanks", false, " us-gov-west-1\n", true);
        row("region without a number", false, "us-west", false);
        row("region with trailing text", false, "us-west-1x", false);
    }
    void validation()
    {
        QFETCH(bool, url);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(url ? isValidStartURLText(text) : isValidOnboardingRegion(text), valid);
    }

    void portalStepGatesContinueAndStoresTheNormalizedURL()
    {
        Fixture f;
        auto *next = f.child<QPushButton>("continue");
        QVERIFY(f.child<QPushButton>("back")->isHidden());
        next->click();
        QCOMPARE(f.view->step(), Step::portal);

        // Untouched region keeps the valid fallback; an empty start URL blocks.
        QCOMPARE(f.child<QLineEdit>("region")->text(), u"us-west-1"_s);
        QVERIFY(!next->isEnabled());
        const QString hint = f.child<QLabel>("startUrlCaption")->text();

        f.typeInto("startUrl", u"http://acme.awsapps.com/start"_s);
        QVERIFY(!next->isEnabled());
        f.typeInto("startUrl", u"https://acme.awsapps.com/start//#/"_s);
        QVERIFY(next->isEnabled());
        QVERIFY(f.child<QLabel>("startUrlCaption")->text() != hint);
        // Saved as typed while typing.
        QCOMPARE(f.settings().string(u"startUrl"_s),
                 std::optional(u"https://acme.awsapps.com/start//#/"_s));

        f.typeInto("region", u"EU-WEST-1"_s);
        QVERIFY(!next->isEnabled());
        QCOMPARE(f.child<QLabel>("regionCaption")->text(),
                 u"Doesn't look like an AWS region (example: us-west-1)."_s);
        // Return in a field presses Continue, but only when Continue is enabled.
        QTest::keyClick(f.child<QLineEdit>("region"), Qt::Key_Return);
        QCOMPARE(f.view->step(), Step::portal);

        f.typeInto("region", u"eu-west-1"_s);
        QCOMPARE(f.settings().string(u"ssoRegion"_s), std::optional(u"eu-west-1"_s));
        QTest::keyClick(f.child<QLineEdit>("startUrl"), Qt::Key_Return);
        QCOMPARE(f.view->step(), Step::signIn);
        QCOMPARE(f.settings().string(u"startUrl"_s),
                 std::optional(u"https://acme.awsapps.com/start"_s));

        f.child<QPushButton>("back")->click();
        QCOMPARE(f.view->step(), Step::portal);
    }

    void signInStepFollowsTheSession()
    {
        Fixture f;
        auto *signIn = f.child<QWidget>("signedOut");
        auto *detail = f.child<QLabel>("signedInDetail");
        QVERIFY(!signIn->isHidden());

        f.stores.setSession(AccountStoreSession::signingIn(u"QRST"_s));
        QVERIFY(signIn->isHidden());
        QVERIFY(!f.child<QWidget>("signingIn")->isHidden());
        QCOMPARE(f.child<QLabel>("userCode")->text(), u"QRST"_s);

        f.stores.setSession(AccountStoreSession::signedIn());
        f.stores.setSyncing(true);
        QCOMPARE(detail->text(), u"Syncing your accounts…"_s);
        f.stores.setAccounts({{u"1"_s, u"A"_s, {}}, {u"2"_s, u"B"_s, {}}});
        f.stores.setSyncing(false);
        QCOMPARE(detail->text(), u"2 accounts available"_s);
    }

    void preferencesAndFinish()
    {
        // A view opened later shows what was stored before.
        Fixture f([](SettingsStore &settings) {
            settings.setString(u"startUrl"_s, u"https://acme.awsapps.com/start"_s);
        });

        for (int i = 0; i < 3; ++i) {
            f.view->goOn();
        }
        QCOMPARE(f.view->step(), Step::preferences);

        // Each hotkey choice leads with the desktop's own notation; Alt+Space warns that it
        // usually opens the window menu.
        auto *hotkeys = f.child<QComboBox>("hotkeyPicker");
        QCOMPARE(hotkeys->currentData().toString(), u"opt-space"_s);
        QVERIFY(hotkeys->currentText().startsWith(u"Alt+Space"_s));
        QVERIFY(hotkeys->currentText().contains(u"window-menu"_s));
        QVERIFY(!hotkeys->itemText(2).contains(u"window-menu"_s));

        f.pick("syncPicker", 360);
        QCOMPARE(f.settings().integer(u"syncMinutes"_s), 360);
        f.pick("hotkeyPicker", u"ctrl-opt-a"_s);
        QCOMPARE(f.settings().string(u"quickSearchHotkey"_s), std::optional(u"ctrl-opt-a"_s));

        f.view->goOn();
        QCOMPARE(f.view->step(), Step::done);
        QVERIFY(f.child<QPushButton>("continue")->isHidden());
        auto *hotkeyLine = f.child<QLabel>("hotkeyLine");
        QVERIFY(!hotkeyLine->isHidden());
        QVERIFY(hotkeyLine->text().startsWith(u"Or press Ctrl+Alt+A"_s));
        QVERIFY(f.child<QLabel>("whereLine")->text().contains(u"click the cloud"_s));

        f.view->goBack();
        f.pick("hotkeyPicker", u"off"_s);
        f.view->goOn();
        QVERIFY(hotkeyLine->isHidden());

        QVERIFY(!f.settings().boolean(u"onboardingComplete"_s));
        QVERIFY(!f.stores.store->accountSync().timerInterval());
        f.child<QPushButton>("finish")->click();
        QVERIFY(f.settings().boolean(u"onboardingComplete"_s));
        QCOMPARE(f.hotKeyApplications, 1);
        QVERIFY(!f.view->isVisible());
    }

    void withoutATrayTheDonePageDoesNotPointAtOne()
    {
        Fixture f({}, false);
        QVERIFY(!f.child<QLabel>("whereLine")->text().contains(u"cloud"_s));
    }

    void anUnknownStoredHotKeyMeansTheDefault()
    {
        QCOMPARE(hotKeyPreset(u"cmd-space"_s).id, u"opt-space"_s);
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
