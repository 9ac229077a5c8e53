#pragma once

#include "accounts/accountstore.h"
#include "aws/inmemorytransport.h"
#include "foundation/manualclock.h"
#include "quicksearch/quickswitchermodel.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace tessera::test {

inline QString s(const char *text)
{
    return QString::fromUtf8(text);
}

inline QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts) {
        list.append(QString::fromUtf8(text));
    }
    return list;
}

inline AWSAccount account(const QString &id, const QString &name, const QStringList &roles = {})
{
    return AWSAccount{id, name, roles};
}

// alpha: two roles; bravo: one role; charlie: none; delta: three roles.
inline QList<AWSAccount> sampleAccounts()
{
    return {
        account(s("111111111111"), s("alpha"), {s("Admin"), s("ReadOnly")}),
        account(s("222222222222"), s("bravo"), {s("Admin")}),
        account(s("333333333333"), s("charlie")),
        account(s("444444444444"), s("delta"), {s("Deploy"), s("Admin"), s("ReadOnly")}),
    };
}

// A real account store over a private data folder, in-memory settings and secure store, and
// a URL opener that records; plus a Quick Search model whose callbacks record too.
class QuickSearchFixture
{
    // First, so that they outlive the store and the model.
    QTemporaryDir m_dataHome;
    InMemoryKeychainStore m_keychain;

public:
    QuickSearchFixture(const QList<AWSAccount> &accounts, const Organization &organization = {})
    {
        QVERIFY(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
        saveAccountCache({accounts, QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC)});
        saveOrganization(organization);

        settings = std::make_shared<InMemorySettingsStore>();
        registerTesseraDefaults(*settings);
        settings->setString(key(settingskey::startUrl),
                            QStringLiteral("https://example.awsapps.com/start"));
        settings->setString(key(settingskey::ssoRegion), QStringLiteral("us-west-1"));

        AccountStore::Options options;
        options.loadPersistedState = true;
        options.keychain = Keychain(m_keychain.operations());
        options.settings = settings;
        options.openURL = [this](const QUrl &url) {
            openedURLs.append(url);
            return openerSucceeds;
        };
        options.transport = std::make_shared<InMemoryHttpTransport>();
        options.clock = clock;
        store = std::make_unique<AccountStore>(std::move(options));

        QuickSwitcherCallbacks callbacks;
        callbacks.dismiss = [this] { ++dismissals; };
        callbacks.awsProfileNames = [this](const QString &accountId,
                                           const std::optional<QString> &role) {
            profileRequests.append({accountId, role});
            if (profileFailure) {
                throw Error(*profileFailure);
            }
            return profileNames;
        };
        callbacks.copyToPasteboard = [this](const QString &text) {
            if (!clipboardWorks) {
                return false;
            }
            clipboard.append(text);
            return true;
        };
        model = std::make_unique<QuickSwitcherModel>(*store, callbacks, clock);
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<InMemorySettingsStore> settings;
    std::unique_ptr<AccountStore> store;
    std::unique_ptr<QuickSwitcherModel> model;

    QList<QUrl> openedURLs;
    bool openerSucceeds = true;
    int dismissals = 0;
    QStringList clipboard;
    bool clipboardWorks = true;
    QStringList profileNames;
    std::optional<QString> profileFailure;
    QList<QPair<QString, std::optional<QString>>> profileRequests;

    QStringList accountNames() const
    {
        QStringList names;
        for (const AWSAccount &a : model->accountResults()) {
            names.append(a.accountName);
        }
        return names;
    }
    QStringList actionIds() const
    {
        QStringList ids;
        for (const QuickResultAction &action : model->actionResults()) {
            ids.append(action.id);
        }
        return ids;
    }
    QStringList serviceNames() const
    {
        QStringList names;
        for (const ConsoleService &service : model->serviceResults()) {
            names.append(service.name);
        }
        return names;
    }
    // Selects the first row whose title is `title` in the current list.
    bool select(const QString &title) const
    {
        const auto rows = model->rows();
        for (int i = 0; i < rows.size(); ++i) {
            if (rows.at(i).title == title) {
                model->setSelection(i);
                return true;
            }
        }
        return false;
    }
    QString selectedTitle() const
    {
        const auto rows = model->rows();
        const int i = model->selection();
        return i >= 0 && i < rows.size() ? rows.at(i).title : QString();
    }
};

} // namespace tessera::test
