// Application start with fake settings and secure store.
#include "app/tesseraapp.h"
#include "storage/inmemorykeychain.h"
#include "storage/recordcoding.h"
#include "storage/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;

class TestTesseraApp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;

    TesseraAppDependencies dependencies(std::shared_ptr<SettingsStore> settings,
                                        const InMemoryKeychainStore &keychain, bool inert,
                                        int *keychainRequests)
    {
        TesseraAppDependencies result;
        result.settings = std::move(settings);
        result.keychainOperations = [keychain, keychainRequests] {
            ++*keychainRequests;
            return keychain.operations();
        };
        result.tokenRefreshScheduler = TokenRefreshScheduler::system();
        result.openURL = [](const QUrl &) { return false; };
        result.inert = inert;
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }

    void aNormalStartMigratesAndLoads()
    {
        auto settings = std::make_shared<InMemorySettingsStore>();
        settings->setString(QStringLiteral("awsProfileNamingTemplate"),
                            QStringLiteral("{accountName}-{role}"));
        InMemoryKeychainStore keychain;
        keychain.setItem(QStringLiteral("token"),
                         encodeSSOToken(SSOToken{QStringLiteral("a"), QStringLiteral("r"),
                                                 QDateTime::currentDateTimeUtc().addDays(-1),
                                                 QStringLiteral("us-east-1"),
                                                 QStringLiteral("https://x/start")}));
        int keychainRequests = 0;
        // Temporaries of writes a kill interrupted go; the user's files next to them stay.
        const QString leftover =
            m_data.filePath(QStringLiteral("Tessera/organization.json.AbCdEf"));
        const QString secret =
            m_data.filePath(QStringLiteral("Tessera/secrets/Tessera.token.secret.qWeRty"));
        const QString unrelated = m_data.filePath(QStringLiteral("Tessera/notes.AbCdEf"));
        for (const QString &path : {leftover, secret, unrelated}) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        const TesseraApp app(dependencies(settings, keychain, false, &keychainRequests));
        QVERIFY(!QFileInfo::exists(leftover) && !QFileInfo::exists(secret));
        QVERIFY(QFileInfo::exists(unrelated));
        QVERIFY(!app.isInert());
        QVERIFY(app.showOnboardingAtLaunch());
        QCOMPARE(settings->string(QStringLiteral("quickSearchHotkey")),
                 QStringLiteral("opt-space"));
        QCOMPARE(settings->string(QStringLiteral("awsProfileNamingTemplate")),
                 QStringLiteral("{accountName|slug}-{role}"));
        QVERIFY(settings->boolean(QStringLiteral("awsProfileNamingV2Migrated")));
        QCOMPARE(keychainRequests, 1);
        QVERIFY(app.store().session().isSignedIn());
        QCOMPARE(app.secretStoreDescription(), QStringLiteral("memory"));
        QVERIFY2(app.loadedStateSummary().contains(
                     QStringLiteral("signed in, 0 accounts, last sync never")),
                 qPrintable(app.loadedStateSummary()));
    }

    void anInertStartReadsAndChangesNothing()
    {
        auto settings = std::make_shared<InMemorySettingsStore>();
        settings->setString(QStringLiteral("awsProfileNamingTemplate"),
                            QStringLiteral("{accountName}-{role}"));
        settings->setBool(QStringLiteral("onboardingComplete"), true);
        InMemoryKeychainStore keychain;
        keychain.setItem(QStringLiteral("client"), QByteArray("{broken"));
        int keychainRequests = 0;

        const TesseraApp app(dependencies(settings, keychain, true, &keychainRequests));
        QVERIFY(app.isInert());
        QVERIFY(!app.showOnboardingAtLaunch());
        // Defaults are registered even so.
        QCOMPARE(settings->string(QStringLiteral("awsProfileNameSeparator")),
                 QStringLiteral("hyphens"));
        QCOMPARE(settings->string(QStringLiteral("awsProfileNamingTemplate")),
                 QStringLiteral("{accountName}-{role}"));
        QVERIFY(!settings->hasStoredValue(QStringLiteral("awsProfileNamingV2Migrated")));
        QCOMPARE(keychainRequests, 0);
        QCOMPARE(keychain.state().copyCalls, 0);
        QCOMPARE(app.store().errorMessage(), std::nullopt);
        QVERIFY(app.store().session().isSignedOut());
    }
};

QTEST_GUILESS_MAIN(TestTesseraApp)
#include "tst_tesseraapp.moc"
