#pragma once

#include "foundation/error.h"
#include "storage/recordcoding.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

// Status codes of the secure store: 0 is success, -25300 is "no such item", anything
// else is a failure. Every backend maps its own errors onto these.
inline constexpr std::int32_t keychainStatusSuccess = 0;
inline constexpr std::int32_t keychainStatusItemNotFound = -25300;

// Attribute names of queries and attribute sets.
namespace keychainattr {
inline constexpr auto itemClass = "class";
inline constexpr auto genericPassword = "genericPassword";
inline constexpr auto service = "service";
inline constexpr auto account = "account";
inline constexpr auto returnData = "returnData";
inline constexpr auto matchLimit = "matchLimit";
inline constexpr auto matchLimitOne = "one";
inline constexpr auto valueData = "valueData";
} // namespace keychainattr

inline constexpr auto keychainServiceName = "Tessera";
inline constexpr auto keychainClientAccount = "client";
inline constexpr auto keychainTokenAccount = "token";

struct KeychainCopyResult
{
    std::int32_t status = keychainStatusItemNotFound;
    std::optional<QVariant> result;
};

// The four primitive operations of a secure store, as plain functions so that any
// backend (Secret Service, a private file store, memory) can be plugged in. Each answers
// through a task: a backend that talks to another process (an unlock prompt may keep it
// waiting for minutes) suspends, one that never waits completes before returning.
struct KeychainSecurityOperations
{
    std::function<QCoro::Task<KeychainCopyResult>(QVariantMap query)> copyMatching;
    std::function<QCoro::Task<std::int32_t>(QVariantMap query, QVariantMap attributes)> update;
    std::function<QCoro::Task<std::int32_t>(QVariantMap attributes)> add;
    std::function<QCoro::Task<std::int32_t>(QVariantMap query)> remove;
    // Where the items live, for the user ("Secret Service", "a private file in …").
    QString storeDescription;
    // What the user is told when an operation answers `status`: which store could not be
    // reached and why, without the status, which the error adds.
    std::function<QString(std::int32_t status)> describeFailure;
};

// The same four operations for a backend that answers at once (memory, local files).
struct ImmediateKeychainOperations
{
    std::function<KeychainCopyResult(const QVariantMap &query)> copyMatching;
    std::function<std::int32_t(const QVariantMap &query, const QVariantMap &attributes)> update;
    std::function<std::int32_t(const QVariantMap &attributes)> add;
    std::function<std::int32_t(const QVariantMap &query)> remove;
    QString storeDescription;
    // What the user is told when an operation answers `status`: which store could not be
    // reached and why, without the status, which the error adds.
    std::function<QString(std::int32_t status)> describeFailure;
};

// Wraps immediate operations in tasks that have completed when they are returned.
KeychainSecurityOperations answeredAtOnce(ImmediateKeychainOperations operations);

class KeychainError : public Error
{
public:
    enum class Case
    {
        operationFailed,
        encoding,
        decoding,
        invalidItem
    };

    // `what` says which store failed and why; the status number is appended.
    static KeychainError operationFailed(std::int32_t status, const QString &what = {});
    static KeychainError encoding();
    static KeychainError decoding();
    static KeychainError invalidItem();

    Case errorCase() const { return m_case; }
    std::int32_t status() const { return m_status; }
    bool operator==(const KeychainError &other) const;

private:
    KeychainError(Case errorCase, std::int32_t status, QString description);
    Case m_case;
    std::int32_t m_status;
};

// The secure store as the account store sees it: one JSON blob per account name under
// the service "Tessera". Operations run one at a time in the order they were asked for,
// across every copy of a Keychain, so that a removal still waiting for the keyring can
// never delete the item a later save wrote. A copy may be destroyed while its operations
// wait; they finish on their own.
class Keychain
{
public:
    explicit Keychain(KeychainSecurityOperations operations);

    template<typename T> QCoro::Task<std::optional<T>> load(QString account) const
    {
        const std::optional<QByteArray> bytes = co_await loadData(std::move(account));
        if (!bytes) {
            co_return std::nullopt;
        }
        std::optional<T> record;
        try {
            record = decodeRecord<T>(*bytes);
        } catch (const DecodingError &) {
            throw KeychainError::decoding();
        }
        co_return record;
    }

    template<typename T> QCoro::Task<void> save(T record, QString account) const
    {
        co_await saveData(encodeRecord(record), std::move(account));
    }

    // Deletes the item; a missing item counts as deleted.
    QCoro::Task<void> remove(QString account) const;

    QCoro::Task<std::optional<QByteArray>> loadData(QString account) const;
    QCoro::Task<void> saveData(QByteArray data, QString account) const;

    const KeychainSecurityOperations &operations() const;
    static QVariantMap baseQuery(const QString &account);

private:
    struct Shared;
    class Turn;
    static KeychainError failure(const Shared &shared, std::int32_t status);
    static QCoro::Task<std::optional<QByteArray>> runLoad(std::shared_ptr<Shared> shared,
                                                          QString account);
    static QCoro::Task<void> runSave(std::shared_ptr<Shared> shared, QByteArray data,
                                     QString account);
    static QCoro::Task<void> runRemove(std::shared_ptr<Shared> shared, QString account);

    std::shared_ptr<Shared> m_shared;
};

} // namespace tessera
