#include "storage/inmemorykeychain.h"

namespace tessera {

namespace {
QPair<QString, QString> keyOf(const QVariantMap &query)
{
    return {query.value(QLatin1String(keychainattr::service)).toString(),
            query.value(QLatin1String(keychainattr::account)).toString()};
}
} // namespace

InMemoryKeychainStore::InMemoryKeychainStore()
    : m_state(std::make_shared<State>())
{}

KeychainSecurityOperations InMemoryKeychainStore::operations() const
{
    auto state = m_state;
    ImmediateKeychainOperations ops;
    ops.copyMatching = [state](const QVariantMap &query) {
        ++state->copyCalls;
        if (state->copyStatus) {
            return KeychainCopyResult{*state->copyStatus, std::nullopt};
        }
        const auto it = state->items.constFind(keyOf(query));
        if (it == state->items.constEnd()) {
            return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
        }
        return KeychainCopyResult{keychainStatusSuccess, *it};
    };
    ops.update = [state](const QVariantMap &query, const QVariantMap &attributes) {
        ++state->updateCalls;
        if (state->updateStatus) {
            return *state->updateStatus;
        }
        const auto key = keyOf(query);
        if (!state->items.contains(key)) {
            return keychainStatusItemNotFound;
        }
        state->items.insert(key, attributes.value(QLatin1String(keychainattr::valueData)));
        return keychainStatusSuccess;
    };
    ops.add = [state](const QVariantMap &attributes) {
        ++state->addCalls;
        if (state->addStatus) {
            return *state->addStatus;
        }
        state->items.insert(keyOf(attributes),
                            attributes.value(QLatin1String(keychainattr::valueData)));
        return keychainStatusSuccess;
    };
    ops.remove = [state](const QVariantMap &query) {
        ++state->removeCalls;
        if (state->removeStatus) {
            return *state->removeStatus;
        }
        return state->items.remove(keyOf(query)) > 0 ? keychainStatusSuccess
                                                     : keychainStatusItemNotFound;
    };
    ops.storeDescription = QStringLiteral("memory");
    return answeredAtOnce(std::move(ops));
}

void InMemoryKeychainStore::setItem(const QString &account, const QVariant &value)
{
    m_state->items.insert({QLatin1String(keychainServiceName), account}, value);
}

std::optional<QVariant> InMemoryKeychainStore::item(const QString &account) const
{
    const auto it = m_state->items.constFind({QLatin1String(keychainServiceName), account});
    if (it == m_state->items.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

} // namespace tessera
