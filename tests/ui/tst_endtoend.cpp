// A new user's first minutes against the local identity center over TLS: sign-in from
// onboarding, the first sync, finishing, and a role's console opened. (What the settings
// window writes is checked against the AWS CLI's own reader with the config writer.)
#include "accounts/accountstore.h"
#include "aws/curlhttptransport.h"
#include "standin.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "support/testsupport.h"
#include "ui/onboardingview.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

using namespace tessera;
using namespace Qt::StringLiterals;
using namespace tessera::standin;

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One stand-in for the whole run: the process's HTTPS session keeps the certificate
    // authority it was first given.
    void initTestCase()
    {
        StandInOptions options;
        options.accounts = {
            {u"210987654321"_s, u"Payments prod"_s, {}, {u"ReadOnlyAccess"_s, u"Admin"_s}},
            {u"123456789012"_s, u"Audit"_s, {}, {}}};
        m_standIn = std::make_unique<StandIn>(options);
        QString error;
        QVERIFY2(m_standIn->start(&error), qPrintable(error));
        for (const auto &[name, value] : m_standIn->clientEnvironment()) {
            qputenv(name.constData(), value);
        }
        m_standIn->setApprovalMode(ApprovalMode::onFirstPoll);
    }

    void onboardingSignInSyncAndConsole()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        qputenv("XDG_DATA_HOME", folder.filePath(u"data"_s).toUtf8());

        auto settings = std::make_shared<QSettingsStore>(folder.filePath(u"Tessera.conf"_s));
        registerTesseraDefaults(*settings);
        settings->setString(key(settingskey::startUrl), m_standIn->startUrl().toString());
        settings->setString(key(settingskey::ssoRegion), u"eu-central-1"_s);
        InMemoryKeychainStore keychain;
        QList<QUrl> opened;
        AccountStore::Options options;
        options.loadPersistedState = true;
        options.keychain = Keychain(keychain.operations());
        options.settings = settings;
        options.openURL = [&opened](const QUrl &url) {
            opened.append(url);
            return true;
        };
        options.transport = defaultHttpTransport();
        AccountStore store(std::move(options));

        // The portal step, its typing and checks tested with the view, is taken as done.
        OnboardingView onboarding(&store, {});
        onboarding.show();
        onboarding.goOn();
        onboarding.goOn();
        QCOMPARE(onboarding.step(), OnboardingView::Step::signIn);
        onboarding.findChild<QPushButton *>(u"signInButton"_s)->click();
        QVERIFY(test::processEventsUntil([&] { return store.session().isSignedIn(); }, 30000));
        // The verification page was handed to the browser with the code in it.
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().path(), u"/device"_s);
        QVERIFY(test::processEventsUntil(
            [&] { return store.accounts().size() == 2 && !store.syncing(); }, 30000));
        QVERIFY2(!store.errorMessage(), qPrintable(store.errorMessageOrEmpty()));
        QVERIFY(store.lastSync());

        onboarding.goOn();
        onboarding.goOn();
        onboarding.findChild<QPushButton *>(u"finish"_s)->click();
        QVERIFY(settings->boolean(u"onboardingComplete"_s));

        // Clicking a role in the panel asks the store for exactly this.
        const auto payments =
            std::ranges::find(store.accounts(), u"210987654321"_s, &AWSAccount::accountId);
        QVERIFY(store.openConsole(*payments, u"Admin"_s));
        QCOMPARE(opened.size(), 2);

        // The links' destinations are built as the command line's are, tested there.
        const QString link = opened.last().toString(QUrl::FullyEncoded);
        QVERIFY2(link.startsWith(m_standIn->startUrl().toString() +
                                 u"/#/console?account_id=210987654321&role_name="
                                 "Admin&destination=https%3A%2F%2F"_s),
                 qPrintable(link));
    }

private:
    std::unique_ptr<StandIn> m_standIn;
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
