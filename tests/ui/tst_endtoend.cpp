// A new user's first minutes against the local identity center over TLS: onboarding,
// sign-in, the first sync, and a role's console opened from the panel.
#include "accounts/accountstore.h"
#include "aws/curlhttptransport.h"
#include "standin.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "support/testsupport.h"
#include "ui/accountlistmodel.h"
#include "ui/accountlistview.h"
#include "ui/awsprofilessettingsview.h"
#include "ui/menucontent.h"
#include "ui/onboardingview.h"
#include "ui/settingsview.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrlQuery>
#include <QtTest>

using namespace tessera;
using namespace tessera::standin;

namespace {
// Resolves every profile that names an sso-session the way the AWS CLI's token provider
// does, and prints what each one resolved to.
const char *resolverScript = R"(
import json
import botocore.session
from botocore.tokens import SSOTokenProvider
resolved = {}
for name, profile in botocore.session.Session().full_config.get("profiles", {}).items():
    if "sso_session" not in profile:
        continue
    config = SSOTokenProvider(botocore.session.Session(profile=name))._load_sso_config()
    resolved[name] = {"session": config["session_name"], "url": config["sso_start_url"],
                      "region": config["sso_region"], "account": profile["sso_account_id"],
                      "role": profile["sso_role_name"]}
print(json.dumps(resolved))
)";
} // namespace

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
            {QStringLiteral("210987654321"),
             QStringLiteral("Payments prod"),
             {},
             {QStringLiteral("ReadOnlyAccess"), QStringLiteral("AdministratorAccess")}},
            {QStringLiteral("123456789012"),
             QStringLiteral("Audit"),
             {},
             {QStringLiteral("SecurityAudit")}},
        };
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
        qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toUtf8());

        StandIn &standIn = *m_standIn;

        auto settings =
            std::make_shared<QSettingsStore>(folder.filePath(QStringLiteral("Tessera.conf")));
        registerTesseraDefaults(*settings);
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

        OnboardingView onboarding(&store, {});
        onboarding.show();
        auto *next = onboarding.findChild<QPushButton *>(QStringLiteral("continue"));
        next->click();
        QTest::keyClicks(onboarding.findChild<QLineEdit *>(QStringLiteral("startUrl")),
                         standIn.startUrl().toString() + QStringLiteral("/#/"));
        auto *region = onboarding.findChild<QLineEdit *>(QStringLiteral("region"));
        region->selectAll();
        QTest::keyClicks(region, QStringLiteral("eu-central-1"));
        next->click();
        QCOMPARE(onboarding.step(), OnboardingView::Step::signIn);
        QCOMPARE(normalizedStartURL(*settings), standIn.startUrl().toString());

        onboarding.findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
        QVERIFY(test::processEventsUntil([&] { return store.session().isSignedIn(); }, 30000));
        // The verification page was handed to the browser with the code in it.
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().path(), QStringLiteral("/device"));
        QVERIFY(test::processEventsUntil(
            [&] { return store.accounts().size() == 2 && !store.syncing(); }, 30000));
        QVERIFY2(!store.errorMessage(), qPrintable(store.errorMessageOrEmpty()));
        QVERIFY(store.lastSync());

        next->click();
        next->click();
        onboarding.findChild<QPushButton *>(QStringLiteral("finish"))->click();
        QVERIFY(settings->boolean(QStringLiteral("onboardingComplete")));

        int dismissed = 0;
        MenuContent::Actions actions;
        actions.dismiss = [&dismissed] { ++dismissed; };
        MenuContent panel(&store, std::move(actions));
        panel.toggleExpanded(QStringLiteral("210987654321"));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        auto *view = panel.findChild<AccountListView *>();
        QModelIndex role;
        for (QModelIndex index = view->model()->index(0, 0); index.isValid();
             index = view->indexBelow(index)) {
            if (index.data(AccountListModel::EntryNameRole) ==
                    QStringLiteral("role:AdministratorAccess") &&
                index.data(AccountListModel::AccountIdRole) == QStringLiteral("210987654321")) {
                role = index;
            }
        }
        QVERIFY(role.isValid());
        view->scrollTo(role);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(role).center());
        QCOMPARE(dismissed, 1);
        QCOMPARE(opened.size(), 2);

        const QUrl link = opened.last();
        const QString prefix = standIn.startUrl().toString() +
                               QStringLiteral("/#/console?account_id=210987654321"
                                              "&role_name=AdministratorAccess&destination=");
        QVERIFY2(link.toString(QUrl::FullyEncoded).startsWith(prefix), qPrintable(link.toString()));
        const QUrlQuery query(link.fragment(QUrl::FullyDecoded).section(QLatin1Char('?'), 1));
        const QUrl destination(
            query.queryItemValue(QStringLiteral("destination"), QUrl::FullyDecoded));
        QCOMPARE(destination.scheme(), QStringLiteral("https"));
        QVERIFY2(destination.host().endsWith(QStringLiteral("console.aws.amazon.com")),
                 qPrintable(destination.toString()));
    }

    void settingsWriteProfilesTheAWSCLIResolves()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toUtf8());
        const QString configPath = folder.filePath(QStringLiteral("aws/config"));
        qputenv("AWS_CONFIG_FILE", configPath.toUtf8());

        StandIn &standIn = *m_standIn;
        auto settings =
            std::make_shared<QSettingsStore>(folder.filePath(QStringLiteral("Tessera.conf")));
        registerTesseraDefaults(*settings);
        settings->setString(key(settingskey::startUrl), standIn.startUrl().toString());
        settings->setString(key(settingskey::ssoRegion), QStringLiteral("eu-central-1"));
        InMemoryKeychainStore keychain;
        AccountStore::Options options;
        options.loadPersistedState = true;
        options.keychain = Keychain(keychain.operations());
        options.settings = settings;
        options.openURL = [](const QUrl &) { return true; };
        options.transport = defaultHttpTransport();
        AccountStore store(std::move(options));
        store.signIn();
        QVERIFY2(test::processEventsUntil(
                     [&] { return store.accounts().size() == 2 && !store.syncing(); }, 30000),
                 qPrintable(store.errorMessageOrEmpty()));

        SettingsView view(&store);
        view.show();
        view.selectSection(SettingsView::Section::awsProfiles);
        auto *mode = view.findChild<QComboBox *>(QStringLiteral("managementMode"));
        mode->setCurrentIndex(mode->findData(QStringLiteral("native")));
        Q_EMIT mode->activated(mode->currentIndex());
        AWSProfilesPageModel &model = view.awsProfilesPage()->model();
        QVERIFY(test::processEventsUntil([&] { return model.canApply() && !model.isPlanning(); }));
        view.findChild<QPushButton *>(QStringLiteral("applyChanges"))->click();
        QVERIFY(test::processEventsUntil([&] { return !model.resultMessageOrEmpty().isEmpty(); }));
        QVERIFY2(!model.failureMessage(), qPrintable(model.failureMessageOrEmpty()));

        QProcess python;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("AWS_PROFILE"));
        python.setProcessEnvironment(environment);
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"), QString::fromLatin1(resolverScript)});
        QVERIFY(python.waitForFinished(60000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        const QJsonObject resolved =
            QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        QCOMPARE(resolved.size(), model.plan()->candidates.size());
        QCOMPARE(resolved.size(), 3);
        for (const AWSConfigProfileCandidate &candidate : model.plan()->candidates) {
            const QJsonObject profile = resolved.value(candidate.name).toObject();
            QCOMPARE(profile.value(QStringLiteral("url")).toString(),
                     standIn.startUrl().toString());
            QCOMPARE(profile.value(QStringLiteral("region")).toString(),
                     QStringLiteral("eu-central-1"));
            QCOMPARE(profile.value(QStringLiteral("account")).toString(), candidate.accountId);
            QCOMPARE(profile.value(QStringLiteral("role")).toString(), candidate.role);
        }
    }

private:
    std::unique_ptr<StandIn> m_standIn;
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
