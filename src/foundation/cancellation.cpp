#include "foundation/cancellation.h"

#include "foundation/error.h"

namespace tessera {

void detail::CancellationState::cancel()
{
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    // A slot may drop the last reference to this state; keep it alive while emitting.
    auto self = shared_from_this();
    Q_EMIT cancelled();
}

void CancellationToken::throwIfCancelled() const
{
    if (isCancelled()) {
        throw CancelledError();
    }
}

QMetaObject::Connection CancellationToken::onCancelled(QObject *context,
                                                       std::function<void()> callback) const
{
    if (!m_state) {
        return {};
    }
    if (m_state->isCancelled()) {
        callback();
        return {};
    }
    return QObject::connect(m_state.get(), &detail::CancellationState::cancelled, context,
                            std::move(callback), Qt::SingleShotConnection);
}

CancellationSource::CancellationSource()
    : m_state(std::make_shared<detail::CancellationState>())
{}

CancellationSource::CancellationSource(const CancellationToken &parent)
    : CancellationSource()
{
    // The child holds only a weak reference back, so a long-lived parent does not keep
    // every finished child alive.
    std::weak_ptr<detail::CancellationState> weakChild = m_state;
    parent.onCancelled(m_state.get(), [weakChild] {
        if (auto child = weakChild.lock()) {
            child->cancel();
        }
    });
}

} // namespace tessera
