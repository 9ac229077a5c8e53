#include "ui/quickswitchercontroller.h"

#include "awsconfig/awsconfigmanager.h"
#include "foundation/logging.h"
#include "platform/hotkeymanager.h"
#include "platform/popupplacement.h"
#include "quicksearch/hotkeypreset.h"
#include "storage/settings.h"
#include "ui/quickswitcherpanel.h"
#include "ui/quickswitcherview.h"

#include <QTimer>

namespace tessera {

QuickSwitcherController::QuickSwitcherController(Services services, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_hotKeys(std::move(m_services.hotKeys))
{
    if (!m_hotKeys) {
        m_hotKeys = makeUnavailableHotKeyManager();
    }
    // The chord may be reported from inside another event's handling; toggling waits
    // for the main loop.
    connect(m_hotKeys.get(), &HotKeyManager::activated, this, &QuickSwitcherController::toggle,
            Qt::QueuedConnection);
}

QuickSwitcherController::~QuickSwitcherController()
{
    m_hotKeyTask.cancel();
    delete m_panel;
    delete m_model;
}

void QuickSwitcherController::setStore(AccountStore *store)
{
    m_store = store;
}

bool QuickSwitcherController::isShown() const
{
    return m_panel && m_panel->isVisible();
}

void QuickSwitcherController::toggle()
{
    if (isShown()) {
        hide();
    } else {
        show();
    }
}

QuickSwitcherCallbacks QuickSwitcherController::makeCallbacks()
{
    QuickSwitcherCallbacks callbacks;
    QPointer<QuickSwitcherController> self(this);
    callbacks.dismiss = [self] {
        if (self) {
            self->hide();
        }
    };
    callbacks.copyToPasteboard = m_services.copyToPasteboard;
    callbacks.awsProfileNames = m_services.awsProfileNames;
    if (!callbacks.awsProfileNames) {
        // The config file Tessera writes its profiles to: the custom path, else
        // AWS_CONFIG_FILE, else ~/.aws/config.
        callbacks.awsProfileNames = [settings =
                                         m_services.settings](const QString &accountId,
                                                              const std::optional<QString> &role) {
            std::optional<QString> path;
            if (settings) {
                path = AWSConfigManager::configFileURL(
                    AWSConfigManagementSettings::fromSettings(*settings));
            }
            return AWSConfigManager::awsProfileNames(accountId, role, path);
        };
    }
    return callbacks;
}

void QuickSwitcherController::show()
{
    if (!m_store) {
        return;
    }
    // Dropped later: show may be called from inside the old model's own operation.
    if (m_model) {
        m_model->deleteLater();
    }
    m_model = new QuickSwitcherModel(*m_store, makeCallbacks(), m_services.clock);
    m_model->shareSearchIndex(m_searchIndex);

    createPanel();
    ++m_showings;
    m_panel->view()->setModel(m_model);
    m_panel->placeOnPointerScreen();
    const bool wasShown = m_panel->isVisible();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_panel->view()->focusSearchField();
    if (!wasShown) {
        Q_EMIT shownChanged();
    }
}

void QuickSwitcherController::createPanel()
{
    if (m_panel) {
        return;
    }
    const bool translucent = m_services.translucent ? *m_services.translucent : desktopComposites();
    m_panel = new QuickSwitcherPanel(translucent, nullptr);
    connect(m_panel, &QuickSwitcherPanel::deactivated, this, [this] {
        // Not inside the activation change itself, and only for the showing that lost
        // the activation: the panel may be shown again before the timer fires.
        QTimer::singleShot(0, this, [this, showing = m_showings] {
            if (m_panel && showing == m_showings && !m_panel->isActiveWindow()) {
                hide();
            }
        });
    });
}

void QuickSwitcherController::prepare()
{
    if (!m_store) {
        return;
    }
    createPanel();
    m_searchIndex->update(m_store->accounts(), m_store->organization().accountGroups);
}

void QuickSwitcherController::hide()
{
    ++m_showings;
    if (m_model) {
        m_model->deleteLater();
        m_model = nullptr;
    }
    if (m_panel) {
        m_panel->view()->setModel(nullptr);
        if (m_panel->isVisible()) {
            m_panel->hide();
            Q_EMIT shownChanged();
        }
    }
}

QString QuickSwitcherController::hotKeyFailureMessage(const QString &reason,
                                                      const QStringList &freeChords)
{
    QString alternatives;
    if (!freeChords.isEmpty()) {
        alternatives = qtTrId("These are free: %1.").arg(freeChords.join(QStringLiteral(", "))) +
                       QLatin1Char(' ');
    }
    return reason + QLatin1Char(' ') + alternatives +
           qtTrId("You can instead bind the command \u201Ctessera --quick-search\u201D to a "
                  "shortcut in your desktop's keyboard settings.");
}

void QuickSwitcherController::setHotKeyErrorMessage(std::optional<QString> message)
{
    if (m_hotKeyErrorMessage != message) {
        m_hotKeyErrorMessage = std::move(message);
        Q_EMIT hotKeyErrorMessageChanged();
    }
}

QCoro::Task<QStringList>
QuickSwitcherController::freeAlternatives(QPointer<HotKeyManager> manager, QKeyCombination taken,
                                          std::function<bool()> stillWanted)
{
    // Nothing is registered after a failure, so each preset can be tried and released.
    QStringList free;
    for (const HotKeyPreset &preset : hotKeyPresets()) {
        if (preset.isOff() || preset.chord.isEmpty() || preset.chord[0] == taken) {
            continue;
        }
        if (!manager || !stillWanted()) {
            co_return free;
        }
        try {
            co_await manager->registerChord(preset.chord[0]);
            free.append(preset.nativeChordText());
        } catch (const HotKeyError &) {
            // Taken as well.
        }
    }
    if (manager && stillWanted()) {
        try {
            co_await manager->registerChord(QKeyCombination());
        } catch (const HotKeyError &error) {
            qCWarning(lcHotKey) << "Releasing a tried hotkey failed with status" << error.status();
        }
    }
    co_return free;
}

TaskHandle<void> QuickSwitcherController::applyHotKeySetting()
{
    m_hotKeyTask.cancel();
    const QString stored = m_services.settings
                               ? m_services.settings->string(key(settingskey::quickSearchHotkey))
                                     .value_or(QLatin1String(defaultHotKeyPresetId))
                               : QString(QLatin1String(defaultHotKeyPresetId));
    const HotKeyPreset &preset = hotKeyPreset(stored);
    const QKeyCombination chord =
        preset.isOff() || preset.chord.isEmpty() ? QKeyCombination() : preset.chord[0];
    const quint64 generation = ++m_hotKeyGeneration;
    QPointer<QuickSwitcherController> self(this);
    QPointer<HotKeyManager> manager(m_hotKeys.get());
    m_hotKeyTask =
        startTask<void>([self, manager, chord, generation](CancellationToken) -> QCoro::Task<void> {
            const auto current = [self, generation] {
                return self && self->m_hotKeyGeneration == generation;
            };
            std::optional<HotKeyError> failure;
            try {
                if (manager) {
                    co_await manager->registerChord(chord);
                }
            } catch (const HotKeyError &error) {
                qCWarning(lcHotKey).noquote()
                    << "Registering the Quick Search hotkey failed with status" << error.status();
                failure = error;
            }
            std::optional<QString> message;
            if (failure) {
                QStringList free;
                if (manager && manager->triesQuietly()) {
                    // Named, not a temporary in the co_await expression: GCC 12 destroys
                    // such temporaries twice.
                    std::function<bool()> stillWanted = current;
                    QCoro::Task<QStringList> trying =
                        freeAlternatives(manager, chord, std::move(stillWanted));
                    free = co_await std::move(trying);
                }
                message = hotKeyFailureMessage(failure->description(), free);
            }
            // A newer setting was applied meanwhile: its outcome is the one that counts.
            if (current()) {
                self->setHotKeyErrorMessage(message);
            }
        });
    return m_hotKeyTask;
}

} // namespace tessera
