// Renders the panel and the onboarding steps with demo data into PNG files:
//   tessera-screenshots OUTPUT-FOLDER
// Run it on the offscreen platform (scripts/screenshots.sh does) so that nothing appears
// on screen and the pictures do not depend on a window manager.
#include "storage/settings.h"
#include "support/viewteststore.h"
#include "ui/accountrow.h"
#include "ui/awsprofilessettingsview.h"
#include "ui/menucontent.h"
#include "ui/onboardingview.h"
#include "ui/settingsview.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

using namespace tessera;

namespace {

QList<AWSAccount> demoAccounts()
{
    const QString admin = QStringLiteral("AdministratorAccess");
    const QString developer = QStringLiteral("DeveloperAccess");
    const QString readOnly = QStringLiteral("ReadOnlyAccess");
    const QString audit = QStringLiteral("SecurityAudit");
    return {
        {QStringLiteral("534439589175"),
         QStringLiteral("Payments prod"),
         {admin, developer, readOnly}},
        {QStringLiteral("154335349840"), QStringLiteral("Payments staging"), {developer, readOnly}},
        {QStringLiteral("205380810795"), QStringLiteral("Checkout prod"), {developer, readOnly}},
        {QStringLiteral("731928374650"), QStringLiteral("Checkout staging"), {developer, readOnly}},
        {QStringLiteral("418273645091"),
         QStringLiteral("Identity prod"),
         {admin, developer, readOnly}},
        {QStringLiteral("902837465512"),
         QStringLiteral("Data Platform dev"),
         {developer, readOnly}},
        {QStringLiteral("660192837465"), QStringLiteral("Log Archive"), {readOnly, audit}},
        {QStringLiteral("381726354908"),
         QStringLiteral("Security Tooling"),
         {admin, audit, readOnly}},
        {QStringLiteral("275839102846"), QStringLiteral("Shared Services"), {admin, readOnly}},
        {QStringLiteral("819203746581"), QStringLiteral("Sandbox — Alice"), {admin}},
    };
}

Organization demoOrganization()
{
    Organization organization;
    organization.pinnedAccountIds = {QStringLiteral("534439589175"),
                                     QStringLiteral("418273645091")};
    organization.groupNames = {QStringLiteral("Checkout"), QStringLiteral("Security")};
    organization.accountGroups = {
        {QStringLiteral("205380810795"), QStringLiteral("Checkout")},
        {QStringLiteral("731928374650"), QStringLiteral("Checkout")},
        {QStringLiteral("660192837465"), QStringLiteral("Security")},
        {QStringLiteral("381726354908"), QStringLiteral("Security")},
    };
    return organization;
}

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

bool save(QWidget &widget, const QString &folder, const QString &name)
{
    widget.show();
    widget.adjustSize();
    settle();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(path)) {
        qCritical("cannot write %s", qPrintable(path));
        return false;
    }
    qInfo("%s", qPrintable(path));
    return true;
}

MenuContent::Actions noActions()
{
    MenuContent::Actions actions;
    actions.copyToClipboard = [](const QString &) { return true; };
    actions.openURL = [](const QUrl &) { return true; };
    return actions;
}

bool renderPanels(const QString &folder)
{
    bool ok = true;
    {
        test::ViewTestStore fixture;
        MenuContent panel(fixture.store.get(), noActions());
        ok &= save(panel, folder, QStringLiteral("panel-signed-out"));
    }
    {
        test::ViewTestStore fixture;
        fixture.setSession(AccountStoreSession::signingIn(QStringLiteral("KJHX-QPWD")));
        fixture.setBrowserFallbackURL(QUrl(
            QStringLiteral("https://device.sso.us-east-1.amazonaws.com/?user_code=KJHX-QPWD")));
        MenuContent panel(fixture.store.get(), noActions());
        ok &= save(panel, folder, QStringLiteral("panel-signing-in"));
    }
    {
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        fixture.setSession(AccountStoreSession::signedIn());
        fixture.setAccounts(demoAccounts());
        fixture.setOrganization(demoOrganization());
        fixture.setLastSync(fixture.clock->currentDateTime().addSecs(-3 * 60));
        fixture.setHasRefreshToken(true);
        MenuContent panel(&store, noActions());
        panel.toggleExpanded(QStringLiteral("534439589175"));
        ok &= save(panel, folder, QStringLiteral("panel-signed-in"));

        panel.setQuery(QStringLiteral("prod"));
        ok &= save(panel, folder, QStringLiteral("panel-search"));
        panel.setQuery(QString());
        panel.requestNewGroup(QStringLiteral("902837465512"));
        panel.findChild<QLineEdit *>(QStringLiteral("newGroupName"))
            ->setText(QStringLiteral("Data"));
        ok &= save(panel, folder, QStringLiteral("panel-new-group"));
    }
    {
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        fixture.setAccounts(demoAccounts());
        fixture.setLastSync(fixture.clock->currentDateTime().addDays(-2));
        store.setErrorMessage(QStringLiteral("Your session expired. Sign in again."));
        MenuContent panel(&store, noActions());
        ok &= save(panel, folder, QStringLiteral("panel-cached-signed-out"));
    }
    return ok;
}

bool renderOnboarding(const QString &folder)
{
    test::ViewTestStore fixture;
    AccountStore &store = *fixture.store;
    OnboardingView view(&store, {});
    bool ok = save(view, folder, QStringLiteral("onboarding-1-welcome"));
    view.goOn();
    auto *startUrl = view.findChild<QLineEdit *>(QStringLiteral("startUrl"));
    startUrl->setText(QStringLiteral("https://my-company.awsapps.com/start/#/"));
    Q_EMIT startUrl->textEdited(startUrl->text());
    ok &= save(view, folder, QStringLiteral("onboarding-2-portal"));
    view.goOn();
    fixture.setSession(AccountStoreSession::signingIn(QStringLiteral("KJHX-QPWD")));
    ok &= save(view, folder, QStringLiteral("onboarding-3-signing-in"));
    fixture.setSession(AccountStoreSession::signedIn());
    fixture.setAccounts(demoAccounts());
    ok &= save(view, folder, QStringLiteral("onboarding-3-signed-in"));
    view.goOn();
    ok &= save(view, folder, QStringLiteral("onboarding-4-preferences"));
    view.goOn();
    ok &= save(view, folder, QStringLiteral("onboarding-5-done"));
    return ok;
}

bool renderSettings(const QString &folder)
{
    // The AWS Profiles page previews against a config in a throwaway folder.
    QTemporaryDir scratch;
    qputenv("XDG_DATA_HOME", scratch.filePath(QStringLiteral("data")).toUtf8());
    test::ViewTestStore fixture;
    SettingsStore &settings = *fixture.settings;
    registerTesseraDefaults(settings);
    settings.setString(key(settingskey::startUrl),
                       QStringLiteral("https://my-company.awsapps.com/start"));
    settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
    settings.setString(key(settingskey::awsConfigPath),
                       scratch.filePath(QStringLiteral("aws/config")));
    fixture.setSession(AccountStoreSession::signedIn());
    fixture.setAccounts(demoAccounts());
    SettingsView view(fixture.store.get());
    view.resize(760, 640);
    bool ok = true;
    const std::pair<SettingsView::Section, const char *> pages[] = {
        {SettingsView::Section::general, "settings-1-general"},
        {SettingsView::Section::regions, "settings-2-regions"},
        {SettingsView::Section::services, "settings-3-services"},
        {SettingsView::Section::awsProfiles, "settings-4-aws-profiles"},
    };
    for (const auto &[section, name] : pages) {
        view.selectSection(section);
        view.show();
        while (view.awsProfilesPage()->model().isPlanning()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        settle();
        const QString path = QDir(folder).filePath(QLatin1String(name) + QStringLiteral(".png"));
        ok &= view.grab().save(path);
        qInfo("%s", qPrintable(path));
    }
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        qCritical("usage: tessera-screenshots OUTPUT-FOLDER");
        return 2;
    }
    const QString folder = arguments.at(1);
    if (!QDir().mkpath(folder)) {
        qCritical("cannot create %s", qPrintable(folder));
        return 1;
    }
    const bool ok = renderPanels(folder) && renderOnboarding(folder) && renderSettings(folder);
    return ok ? 0 : 1;
}
