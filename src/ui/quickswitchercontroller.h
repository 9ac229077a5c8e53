#pragma once

#include "accounts/accountstore.h"
#include "foundation/clock.h"
#include "foundation/taskhandle.h"
#include "quicksearch/quickswitchermodel.h"

#include <QKeyCombination>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

class HotKeyManager;
class QuickSwitcherPanel;
class SettingsStore;

// Shows and hides the Quick Search panel, with a fresh switcher model for every showing,
// and applies the hotkey setting. One per process; the panel, once made, is kept.
class QuickSwitcherController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        QString hotKeyErrorMessage READ hotKeyErrorMessageOrEmpty NOTIFY hotKeyErrorMessageChanged)
    Q_PROPERTY(bool shown READ isShown NOTIFY shownChanged)

public:
    struct Services
    {
        std::shared_ptr<SettingsStore> settings;
        // Clipboard writer; false when the clipboard refused the text.
        std::function<bool(const QString &)> copyToPasteboard;
        // Profile lookup; unset: the profiles in the AWS config file Tessera manages.
        std::function<QStringList(const QString &, const std::optional<QString> &)> awsProfileNames;
        // May be null: the hotkey then always fails to register.
        std::unique_ptr<HotKeyManager> hotKeys;
        std::shared_ptr<Clock> clock;
        // Whether the panel may be translucent; unset: whether the desktop composites.
        std::optional<bool> translucent;
    };

    explicit QuickSwitcherController(Services services, QObject *parent = nullptr);
    ~QuickSwitcherController() override;

    // Without a store the panel never opens.
    void setStore(AccountStore *store);

    bool isShown() const;
    QuickSwitcherModel *model() const { return m_model; }
    // Null until the first showing.
    QuickSwitcherPanel *panel() const { return m_panel; }
    HotKeyManager *hotKeyManager() const { return m_hotKeys.get(); }

    const std::optional<QString> &hotKeyErrorMessage() const { return m_hotKeyErrorMessage; }
    QString hotKeyErrorMessageOrEmpty() const { return m_hotKeyErrorMessage.value_or(QString()); }

    // Registers the chord stored under "quickSearchHotkey"; the outcome lands in
    // hotKeyErrorMessage. A newer call supersedes a running one.
    TaskHandle<void> applyHotKeySetting();

    // Builds the panel and the search tables ahead of the first showing, so that the
    // hotkey answers at once; called when start-up is done.
    void prepare();

    // The text shown when the chord cannot be registered, naming the presets found free.
    static QString hotKeyFailureMessage(const QString &reason, const QStringList &freeChords = {});

public Q_SLOTS:
    void toggle();
    void show();
    void hide();

Q_SIGNALS:
    void hotKeyErrorMessageChanged();
    void shownChanged();

private:
    void setHotKeyErrorMessage(std::optional<QString> message);
    // The other presets' chords that can be registered, in the desktop's notation.
    static QCoro::Task<QStringList> freeAlternatives(QPointer<HotKeyManager> manager,
                                                     QKeyCombination taken,
                                                     std::function<bool()> stillWanted);
    QuickSwitcherCallbacks makeCallbacks();
    void createPanel();

    Services m_services;
    std::unique_ptr<HotKeyManager> m_hotKeys;
    QPointer<AccountStore> m_store;
    QuickSwitcherPanel *m_panel = nullptr;
    QPointer<QuickSwitcherModel> m_model;
    std::optional<QString> m_hotKeyErrorMessage;
    TaskHandle<void> m_hotKeyTask;
    quint64 m_hotKeyGeneration = 0;
    // Kept across showings; rebuilt only when the account list changes.
    std::shared_ptr<AccountSearchIndex> m_searchIndex = std::make_shared<AccountSearchIndex>();
    // Counts showings and hidings, so a late deactivation cannot hide a newer showing.
    quint64 m_showings = 0;
};

} // namespace tessera
