#include "app/tesseraapp.h"

#include "aws/curlhttptransport.h"
#include "awsconfig/awsconfigmanager.h"
#include "foundation/logging.h"
#include "platform/clipboard.h"
#include "platform/hotkeymanager.h"
#include "platform/secretstore.h"
#include "platform/systemresume.h"
#include "platform/urlopener.h"
#include "quicksearch/hotkeypreset.h"
#include "storage/filekeychain.h"
#include "storage/interruptedwrites.h"
#include "storage/settings.h"
#include "ui/desktopshell.h"
#include "ui/quickswitchercontroller.h"

#include <QApplication>
#include <QDateTime>
#include <QPointer>
#include <QTimer>

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

QCoro::Task<void> syncIfAlive(QPointer<AccountStore> store)
{
    if (store) {
        co_await store->sync();
    }
}

} // namespace

TesseraAppDependencies TesseraAppDependencies::production()
{
    TesseraAppDependencies dependencies;
    dependencies.settings = std::make_shared<QSettingsStore>();
    dependencies.keychainOperations = productionKeychainOperations;
    dependencies.tokenRefreshScheduler = TokenRefreshScheduler::system();
    dependencies.openURL = openURLInDesktopBrowser;
    dependencies.systemResumeNotifier = [] { return makeSystemResumeNotifier(); };
    dependencies.hotKeyManager = makeDesktopHotKeyManager;
    dependencies.inert = TesseraApp::inertStartRequested();
    return dependencies;
}

bool TesseraApp::inertStartRequested()
{
    // The harness's variable counts when present at all, whatever its value.
    return qEnvironmentVariable("TESSERA_INERT") == QLatin1String("1") ||
           qEnvironmentVariableIsSet("XCTestConfigurationFilePath");
}

TesseraApp::TesseraApp(TesseraAppDependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_inert(dependencies.inert)
    , m_settings(std::move(dependencies.settings))
    , m_makeHotKeyManager(std::move(dependencies.hotKeyManager))
{
    m_showOnboardingAtLaunch = !m_settings->boolean(key(settingskey::onboardingComplete));

    registerTesseraDefaults(*m_settings);
    if (!m_inert) {
        migrateNamingTemplate(*m_settings);
        removeInterruptedWritesOfOwnFiles();
    }

    // The inert store never touches the secure store, so it gets one that holds nothing.
    KeychainSecurityOperations operations;
    if (!m_inert) {
        operations = dependencies.keychainOperations();
    } else {
        ImmediateKeychainOperations nothing;
        nothing.copyMatching = [](const QVariantMap &) {
            return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
        };
        nothing.update = [](const QVariantMap &, const QVariantMap &) {
            return keychainStatusItemNotFound;
        };
        nothing.add = [](const QVariantMap &) { return keychainStatusSuccess; };
        nothing.remove = [](const QVariantMap &) { return keychainStatusItemNotFound; };
        nothing.storeDescription = QStringLiteral("nowhere (inert start)");
        operations = answeredAtOnce(std::move(nothing));
    }
    m_secretStoreDescription = operations.storeDescription;

    AccountStore::Options storeOptions;
    storeOptions.loadPersistedState = !m_inert;
    storeOptions.keychain = Keychain(std::move(operations));
    storeOptions.settings = m_settings;
    storeOptions.openURL = std::move(dependencies.openURL);
    storeOptions.transport = defaultHttpTransport();
    storeOptions.refreshScheduler = std::move(dependencies.tokenRefreshScheduler);
    m_store = std::make_unique<AccountStore>(std::move(storeOptions));

    if (!m_inert && dependencies.systemResumeNotifier) {
        m_resumeNotifier = dependencies.systemResumeNotifier();
        connect(m_resumeNotifier.get(), &SystemResumeNotifier::resumed, m_store.get(),
                &AccountStore::recheckTokenSchedule);
    }
    if (!m_inert) {
        m_cliSignInSharing = std::make_unique<CLISignInSharing>(m_store.get(), m_settings);
        buildUserInterface();
    }
    qCInfo(lcApp).noquote() << loadedStateSummary();
}

TesseraApp::~TesseraApp() = default;

void TesseraApp::removeInterruptedWritesOfOwnFiles()
{
    // Another instance would have been turned away before this point, so no write that is
    // still under way can be taken for an interrupted one.
    removeInterruptedSupportFileWrites(defaultFileKeychainFolder());
    AWSConfigManager::removeInterruptedWrites(
        AWSConfigManager::configFileURL(AWSConfigManagementSettings::fromSettings(*m_settings)));
}

void TesseraApp::buildUserInterface()
{
    // Hosts without widgets (headless tests) get the store alone.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        return;
    }
    // Quick Search attaches first, so that the hotkey works while onboarding is open.
    QuickSwitcherController::Services quickSearch;
    quickSearch.settings = m_settings;
    quickSearch.copyToPasteboard = copyTextToClipboard;
    quickSearch.hotKeys = m_makeHotKeyManager ? m_makeHotKeyManager() : makeDesktopHotKeyManager();
    m_quickSwitcher = std::make_unique<QuickSwitcherController>(std::move(quickSearch));
    m_quickSwitcher->setStore(m_store.get());
    m_quickSwitcher->applyHotKeySetting();

    DesktopShell::Services services;
    services.openURL = openURLInDesktopBrowser;
    services.copyToClipboard = copyTextToClipboard;
    services.showQuickSearch = [this] { m_quickSwitcher->show(); };
    services.applyHotKey = [this] { m_quickSwitcher->applyHotKeySetting(); };
    services.hotKeyErrorMessage = [this] { return m_quickSwitcher->hotKeyErrorMessage(); };
    services.quickSearchChord = [this] {
        return hotKeyPreset(
                   m_settings->string(key(settingskey::quickSearchHotkey)).value_or(QString()))
            .nativeChordText();
    };
    services.quit = [] { QCoreApplication::quit(); };
    services.cliSignInSharing = m_cliSignInSharing.get();
    m_shell = std::make_unique<DesktopShell>(m_store.get(), std::move(services));
    m_shell->start(m_showOnboardingAtLaunch);
    // Until a settings window shows it, a failed registration is announced from the tray.
    const auto announceHotKeyFailure = [this] {
        if (const auto &message = m_quickSwitcher->hotKeyErrorMessage()) {
            m_shell->showNotice(qtTrId("Quick Search"), *message);
        }
    };
    connect(m_quickSwitcher.get(), &QuickSwitcherController::hotKeyErrorMessageChanged, this,
            announceHotKeyFailure);
    announceHotKeyFailure();
    QTimer::singleShot(0, m_quickSwitcher.get(), &QuickSwitcherController::prepare);
}

void TesseraApp::perform(InstanceCommand command)
{
    qCInfo(lcApp, "Carrying out the request \"%s\"", instanceCommandName(command).constData());
    switch (command) {
    case InstanceCommand::reopen:
        handleReopen();
        return;
    case InstanceCommand::show:
        showPanel();
        return;
    case InstanceCommand::quickSearch:
        toggleQuickSearch();
        return;
    case InstanceCommand::settings:
        showSettings();
        return;
    case InstanceCommand::signIn:
        startSignIn();
        return;
    case InstanceCommand::sync:
        syncNow();
        return;
    }
}

void TesseraApp::handleReopen()
{
    if (m_shell) {
        m_shell->handleReopen();
    }
}

void TesseraApp::showPanel()
{
    if (m_shell) {
        m_shell->showPanel();
    }
}

void TesseraApp::startSignIn()
{
    if (m_inert) {
        qCInfo(lcApp, "An inert start does not sign in");
        return;
    }
    // The panel shows the user code and any failure.
    showPanel();
    m_store->signIn();
}

void TesseraApp::syncNow()
{
    if (m_inert) {
        qCInfo(lcApp, "An inert start does not sync");
        return;
    }
    if (!m_store->session().isSignedIn()) {
        qCWarning(lcApp, "Not syncing: not signed in");
        return;
    }
    // The sync is single-flight and owned by the store; the task ends with it.
    startTask<void>([store = QPointer<AccountStore>(m_store.get())](CancellationToken) {
        return syncIfAlive(store);
    });
}

void TesseraApp::toggleQuickSearch()
{
    if (m_quickSwitcher) {
        m_quickSwitcher->toggle();
    }
}

void TesseraApp::showSettings()
{
    if (m_shell) {
        m_shell->showSettings();
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
