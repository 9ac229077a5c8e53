#pragma once

#include "storage/keychain.h"

#include <QMap>
#include <memory>

namespace tessera {

// A secure store held in memory, for tests. Items are keyed by (service, account).
// Each operation can be made to answer a chosen status instead, and every call is
// counted, so tests can check which primitives an algorithm used.
class InMemoryKeychainStore
{
public:
    struct State
    {
        QMap<QPair<QString, QString>, QVariant> items;
        std::optional<std::int32_t> copyStatus, updateStatus, addStatus, removeStatus;
        int copyCalls = 0, updateCalls = 0, addCalls = 0, removeCalls = 0;
    };

    InMemoryKeychainStore();
    KeychainSecurityOperations operations() const;
    State &state() { return *m_state; }

    void setItem(const QString &account, const QVariant &value);
    std::optional<QVariant> item(const QString &account) const;

private:
    std::shared_ptr<State> m_state;
};

} // namespace tessera
