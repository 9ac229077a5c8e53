// An inert start (the mode test harnesses use) with fake settings and secure store. What a
// normal start loads and writes is checked on the real binary.
#include "app/tesseraapp.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"

#include <QTest>

using namespace tessera;
using namespace Qt::StringLiterals;

class TestTesseraApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void anInertStartReadsAndChangesNothing()
    {
        auto settings = std::make_shared<InMemorySettingsStore>();
        settings->setString(u"awsProfileNamingTemplate"_s, u"{accountName}-{role}"_s);
        settings->setBool(u"onboardingComplete"_s, true);
        InMemoryKeychainStore keychain;
        keychain.setItem(u"client"_s, QByteArray("{broken"));
        int keychainRequests = 0;
        TesseraAppDependencies dependencies;
        dependencies.settings = settings;
        dependencies.keychainOperations = [&keychain, &keychainRequests] {
            ++keychainRequests;
            return keychain.operations();
        };
        dependencies.tokenRefreshScheduler = TokenRefreshScheduler::system();
        dependencies.openURL = [](const QUrl &) { return false; };
        dependencies.inert = true;

        const TesseraApp app(std::move(dependencies));
        QVERIFY(app.isInert());
        QVERIFY(!app.showOnboardingAtLaunch());
        // Defaults are registered even so.
        QCOMPARE(settings->string(u"awsProfileNameSeparator"_s), u"hyphens"_s);
        QCOMPARE(settings->string(u"awsProfileNamingTemplate"_s), u"{accountName}-{role}"_s);
        QVERIFY(!settings->hasStoredValue(u"awsProfileNamingV2Migrated"_s));
        QCOMPARE(keychainRequests, 0);
        QCOMPARE(keychain.state().copyCalls, 0);
        QCOMPARE(app.store().errorMessage(), std::nullopt);
        QVERIFY(app.store().session().isSignedOut());
    }
};

QTEST_GUILESS_MAIN(TestTesseraApp)
#include "tst_tesseraapp.moc"
