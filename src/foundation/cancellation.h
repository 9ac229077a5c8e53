#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace tessera {

namespace detail {
class CancellationState : public QObject, public std::enable_shared_from_this<CancellationState>
{
    Q_OBJECT
public:
    bool isCancelled() const { return m_cancelled; }
    void cancel();

Q_SIGNALS:
    void cancelled();

private:
    bool m_cancelled = false;
};
} // namespace detail

// The observing side of cooperative cancellation. Cheap to copy; every copy sees the
// same state. A default-constructed token can never be cancelled.
class CancellationToken
{
public:
    CancellationToken() = default;

    bool isCancelled() const { return m_state && m_state->isCancelled(); }
    bool canBeCancelled() const { return m_state != nullptr; }

    // Throws CancelledError when cancelled; every cancellable wait calls it on wake-up.
    void throwIfCancelled() const;

    // Calls `callback` once on cancellation (immediately if already cancelled).
    // The connection is tied to `context`, so it dies with it.
    QMetaObject::Connection onCancelled(QObject *context, std::function<void()> callback) const;

private:
    friend class CancellationSource;
    explicit CancellationToken(std::shared_ptr<detail::CancellationState> state)
        : m_state(std::move(state))
    {}
    std::shared_ptr<detail::CancellationState> m_state;
};

// The controlling side. A source linked to a parent token is cancelled with it.
class CancellationSource
{
public:
    CancellationSource();
    explicit CancellationSource(const CancellationToken &parent);

    CancellationToken token() const { return CancellationToken(m_state); }
    void cancel() const { m_state->cancel(); }
    bool isCancelled() const { return m_state->isCancelled(); }

private:
    std::shared_ptr<detail::CancellationState> m_state;
};

} // namespace tessera
