// Settings: registered defaults, typed access, the shared accessors and the migration.
#include "storage/settings.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;

Q_DECLARE_METATYPE(std::optional<QString>)

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storedValuesOverrideDefaultsAndKeepTheirTypes()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Tessera.conf"));
        {
            QSettingsStore settings(path);
            settings.setInteger(QStringLiteral("syncMinutes"), 15);
            settings.setBool(QStringLiteral("onboardingComplete"), true);
            settings.setString(QStringLiteral("awsConfigPath"), QString());
            settings.setString(QStringLiteral("ssoRegion"), QStringLiteral("eu-central-1"));
            settings.remove(QStringLiteral("ssoRegion"));
        }
        QSettingsStore reopened(path);
        QCOMPARE(reopened.string(QStringLiteral("ssoRegion")), std::nullopt);
        registerTesseraDefaults(reopened);
        QCOMPARE(reopened.integer(QStringLiteral("syncMinutes")), 15);
        QCOMPARE(reopened.boolean(QStringLiteral("onboardingComplete")), true);
        QCOMPARE(reopened.string(QStringLiteral("awsConfigPath")), QString());
        QCOMPARE(reopened.string(QStringLiteral("ssoRegion")), QStringLiteral("us-west-1"));
        QVERIFY(!reopened.hasStoredValue(QStringLiteral("ssoRegion")));

        // Values written by hand, as text.
        reopened.setString(QStringLiteral("awsProfileAutoSync"), QStringLiteral(" 1"));
        QCOMPARE(reopened.boolean(QStringLiteral("awsProfileAutoSync")), true);
        reopened.setString(QStringLiteral("syncMinutes"), QStringLiteral("15.0"));
        QCOMPARE(reopened.integer(QStringLiteral("syncMinutes")), 15);

        // A value that cannot be stored is logged; the control already shows it.
        QSettingsStore unwritable(path + QStringLiteral("/below-a-file.conf"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Could not store the setting")));
        unwritable.setBool(QStringLiteral("onboardingComplete"), true);
    }

    void normalizeStartURL_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normalized");
        QTest::newRow("spaces, query, slash")
            << QStringLiteral("\n\tHTTPS://Corp.AwsApps.com/start/?x=1  ")
            << QStringLiteral("HTTPS://Corp.AwsApps.com/start");
        QTest::newRow("hash before query, slashes")
            << QStringLiteral("https://a/s///#frag?q") << QStringLiteral("https://a/s");
        QTest::newRow("leading hash") << QStringLiteral("#/start") << QString();
    }
    void normalizeStartURL()
    {
        QFETCH(QString, typed);
        QFETCH(QString, normalized);
        QCOMPARE(tessera::normalizeStartURL(typed), normalized);
    }

    void accessorsTidyWhatTheyRead()
    {
        InMemorySettingsStore settings; // without registered defaults
        QCOMPARE(configuredSSORegion(settings), QStringLiteral("us-west-1"));
        settings.setString(QStringLiteral("ssoRegion"), QStringLiteral("  EU-West-1\n"));
        settings.setString(QStringLiteral("defaultConsoleRegion"), QStringLiteral("   "));
        QCOMPARE(configuredSSORegion(settings), QStringLiteral("eu-west-1"));
        QCOMPARE(configuredDefaultConsoleRegion(settings), std::nullopt);
        settings.setString(QStringLiteral("defaultConsoleRegion"), QStringLiteral(" AP-South-1 "));
        QCOMPARE(configuredDefaultConsoleRegion(settings), QStringLiteral("ap-south-1"));
    }

    void namingTemplateMigration_data()
    {
        QTest::addColumn<std::optional<QString>>("stored");
        QTest::addColumn<bool>("alreadyMigrated");
        QTest::addColumn<QString>("after");
        const QString legacy = QStringLiteral("{accountName}-{role}");
        const QString slug = QStringLiteral("{accountName|slug}-{role}");
        QTest::newRow("legacy template") << std::optional(legacy) << false << slug;
        QTest::newRow("custom") << std::optional(QStringLiteral("{role}")) << false
                                << QStringLiteral("{role}");
        QTest::newRow("registered default only") << std::optional<QString>() << false << slug;
        QTest::newRow("legacy after the marker") << std::optional(legacy) << true << legacy;
    }
    void namingTemplateMigration()
    {
        QFETCH(std::optional<QString>, stored);
        QFETCH(bool, alreadyMigrated);
        QFETCH(QString, after);
        InMemorySettingsStore settings;
        registerTesseraDefaults(settings);
        if (stored) {
            settings.setString(QStringLiteral("awsProfileNamingTemplate"), *stored);
        }
        if (alreadyMigrated) {
            settings.setBool(QStringLiteral("awsProfileNamingV2Migrated"), true);
        }
        migrateNamingTemplate(settings);
        QCOMPARE(settings.string(QStringLiteral("awsProfileNamingTemplate")), after);
        QCOMPARE(settings.boolean(QStringLiteral("awsProfileNamingV2Migrated")), true);
        // A registered default is never written out as a stored value.
        QCOMPARE(settings.hasStoredValue(QStringLiteral("awsProfileNamingTemplate")),
                 stored.has_value());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
