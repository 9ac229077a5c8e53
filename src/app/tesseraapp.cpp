#include "app/tesseraapp.h"

#include "foundation/logging.h"
#include "platform/clipboard.h"
#include "platform/secretstore.h"
#include "platform/urlopener.h"
#include "storage/settings.h"
#include "ui/desktopshell.h"

#include <QApplication>
#include <QDateTime>

namespace tessera {

namespace {

QString sessionName(const AccountStoreSession &session)
{
    switch (session.state()) {
    case AccountStoreSession::Case::signedOut:
        return QStringLiteral("signed out");
    case AccountStoreSession::Case::signingIn:
        return QStringLiteral("signing in");
    case AccountStoreSession::Case::signedIn:
        return QStringLiteral("signed in");
    }
    return {};
}

} // namespace

TesseraAppDependencies TesseraAppDependencies::production()
{
    TesseraAppDependencies dependencies;
    dependencies.settings = std::make_shared<QSettingsStore>();
    dependencies.keychainOperations = productionKeychainOperations;
    dependencies.tokenRefreshScheduler = TokenRefreshScheduler::system();
    dependencies.openURL = openURLInDesktopBrowser;
    dependencies.inert = TesseraApp::inertStartRequested();
    return dependencies;
}

bool TesseraApp::inertStartRequested()
{
    // Present at all, whatever its value.
    return qEnvironmentVariableIsSet("XCTestConfigurationFilePath");
}

TesseraApp::TesseraApp(TesseraAppDependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_inert(dependencies.inert)
    , m_settings(std::move(dependencies.settings))
{
    m_showOnboardingAtLaunch = !m_settings->boolean(key(settingskey::onboardingComplete));

    registerTesseraDefaults(*m_settings);
    if (!m_inert) {
        migrateNamingTemplate(*m_settings);
    }

    // The inert store never touches the secure store, so it gets one that holds nothing.
    KeychainSecurityOperations operations;
    if (!m_inert) {
        operations = dependencies.keychainOperations();
    } else {
        operations.copyMatching = [](const QVariantMap &) {
            return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
        };
        operations.update = [](const QVariantMap &, const QVariantMap &) {
            return keychainStatusItemNotFound;
        };
        operations.add = [](const QVariantMap &) { return keychainStatusSuccess; };
        operations.remove = [](const QVariantMap &) { return keychainStatusItemNotFound; };
        operations.storeDescription = QStringLiteral("nowhere (inert start)");
    }
    m_secretStoreDescription = operations.storeDescription;

    m_store = std::make_unique<AccountStore>(
        !m_inert, std::nullopt, std::move(dependencies.tokenRefreshScheduler),
        Keychain(std::move(operations)), m_settings, std::move(dependencies.openURL));

    if (!m_inert) {
        m_cliSignInSharing = std::make_unique<CLISignInSharing>(m_store.get(), m_settings);
        buildUserInterface();
    }
    qCInfo(lcApp).noquote() << loadedStateSummary();
}

TesseraApp::~TesseraApp() = default;

void TesseraApp::buildUserInterface()
{
    // Hosts without widgets (headless tests) get the store alone.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        return;
    }
    DesktopShell::Services services;
    services.openURL = openURLInDesktopBrowser;
    services.copyToClipboard = copyTextToClipboard;
    services.quit = [] { QCoreApplication::quit(); };
    m_shell = std::make_unique<DesktopShell>(m_store.get(), std::move(services));
    m_shell->start(m_showOnboardingAtLaunch);
}

void TesseraApp::handleReopen()
{
    if (m_shell) {
        m_shell->handleReopen();
    }
}

QString TesseraApp::loadedStateSummary() const
{
    const AccountStore &store = *m_store;
    const Organization &organization = store.organization();
    const QString lastSync = store.lastSync() ? store.lastSync()->toUTC().toString(Qt::ISODate)
                                              : QStringLiteral("never");
    QString summary =
        QStringLiteral("Tessera started%1: %2, %3 accounts, last sync %4, "
                       "%5 pinned, %6 groups, %7 hidden services, "
                       "%8 disabled regions; sign-in data in %9")
            .arg(m_inert ? QStringLiteral(" (inert)") : QString(), sessionName(store.session()),
                 QString::number(store.accounts().size()), lastSync,
                 QString::number(organization.pinnedAccountIds.size()),
                 QString::number(organization.groupNames.size()),
                 QString::number(organization.disabledServiceNames.size()),
                 QString::number(organization.disabledConsoleRegionIds.size()),
                 m_secretStoreDescription);
    if (store.errorMessage()) {
        summary += QStringLiteral("; message: ") + *store.errorMessage();
    }
    return summary;
}

} // namespace tessera
