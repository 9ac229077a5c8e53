#pragma once

#include "foundation/error.h"
#include "storage/recordcoding.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <cstdint>
#include <functional>
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
// backend (Secret Service, a private file store, memory) can be plugged in.
struct KeychainSecurityOperations
{
    std::function<KeychainCopyResult(const QVariantMap &query)> copyMatching;
    std::function<std::int32_t(const QVariantMap &query, const QVariantMap &attributes)> update;
    std::function<std::int32_t(const QVariantMap &attributes)> add;
    std::function<std::int32_t(const QVariantMap &query)> remove;
    // Where the items live, for the user ("Secret Service", "a private file in …").
    QString storeDescription;
    // What the user is told when an operation answers `status`: which store could not be
    // reached and why, without the status, which the error adds.
    std::function<QString(std::int32_t status)> describeFailure;
};

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
// the service "Tessera".
class Keychain
{
public:
    explicit Keychain(KeychainSecurityOperations operations);

    template<typename T> std::optional<T> load(const QString &account) const
    {
        const auto bytes = loadData(account);
        if (!bytes) {
            return std::nullopt;
        }
        try {
            return decodeRecord<T>(*bytes);
        } catch (const DecodingError &) {
            throw KeychainError::decoding();
        }
    }

    template<typename T> void save(const T &record, const QString &account) const
    {
        saveData(encodeRecord(record), account);
    }

    // Deletes the item; a missing item counts as deleted.
    void remove(const QString &account) const;

    std::optional<QByteArray> loadData(const QString &account) const;
    void saveData(const QByteArray &data, const QString &account) const;

    const KeychainSecurityOperations &operations() const { return m_operations; }
    static QVariantMap baseQuery(const QString &account);

private:
    KeychainError failure(std::int32_t status) const;

    KeychainSecurityOperations m_operations;
};

} // namespace tessera
