#include "platform/hotkeymanager.h"

#include "foundation/logging.h"

namespace tessera {

HotKeyError::HotKeyError(Kind kind, int status)
    : Error(QStringLiteral("Could not register the global hotkey. It may already be in use."))
    , m_kind(kind)
    , m_status(status)
{}

HotKeyError HotKeyError::installationFailed(int status)
{
    return HotKeyError(Kind::installationFailed, status);
}

HotKeyError HotKeyError::registrationFailed(int status)
{
    return HotKeyError(Kind::registrationFailed, status);
}

namespace {
class UnavailableHotKeyManager : public HotKeyManager
{
public:
    QCoro::Task<void> registerChord(QKeyCombination chord) override
    {
        if (chord.key() != Qt::Key_unknown) {
            qCWarning(lcHotKey) << "No global hotkey facility to register a chord with";
            throw HotKeyError::installationFailed(-1);
        }
        co_return;
    }
    bool isRegistered() const override { return false; }
};
} // namespace

std::unique_ptr<HotKeyManager> makeUnavailableHotKeyManager()
{
    return std::make_unique<UnavailableHotKeyManager>();
}

} // namespace tessera
