#pragma once

#include "accounts/accountstore.h"
#include "aws/httptransport.h"
#include "foundation/error.h"
#include "foundation/manualclock.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"

#include <QList>
#include <QUrl>
#include <memory>

namespace tessera::test {

// Any request is refused: these stores must never need the network.
class RefusingTransport final : public HttpTransport
{
public:
    QCoro::Task<HttpResponse> send(HttpRequest, CancellationToken) override
    {
        throw TransportError(TransportError::Kind::connection, QStringLiteral("offline"));
        co_return HttpResponse{};
    }
};

// Stands in for the desktop's "open in browser".
struct RecordingURLOpener
{
    QList<QUrl> opened;
    bool succeeds = true;
};

// A store on in-memory settings and secure store, a manual clock and no network. Its
// organization lives in `organizationFile`.
inline std::unique_ptr<AccountStore>
makeOfflineStore(const QString &organizationFile, std::shared_ptr<SettingsStore> settings,
                 std::shared_ptr<RecordingURLOpener> opener = {}, bool loadPersistedState = false)
{
    auto clock = std::make_shared<ManualClock>();
    if (!opener) {
        opener = std::make_shared<RecordingURLOpener>();
    }
    return std::make_unique<AccountStore>(
        loadPersistedState, organizationFile, TokenRefreshScheduler::fromClock(clock),
        Keychain(InMemoryKeychainStore().operations()), std::move(settings),
        [opener](const QUrl &url) {
            opener->opened.append(url);
            return opener->succeeds;
        },
        AccountStoreServices{clock, std::make_shared<RefusingTransport>(), {}});
}

inline std::shared_ptr<InMemorySettingsStore> defaultSettings()
{
    auto settings = std::make_shared<InMemorySettingsStore>();
    registerTesseraDefaults(*settings);
    return settings;
}

} // namespace tessera::test
