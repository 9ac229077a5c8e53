#include "storage/keychain.h"

namespace tessera {

KeychainError::KeychainError(Case errorCase, std::int32_t status, QString description)
    : Error(std::move(description))
    , m_case(errorCase)
    , m_status(status)
{}

KeychainError KeychainError::operationFailed(std::int32_t status, const QString &what)
{
    const QString failure =
        what.isEmpty() ? QStringLiteral("Tessera could not access its secure store") : what;
    return KeychainError(Case::operationFailed, status,
                         failure + QStringLiteral(". (status ") + QString::number(status) +
                             QStringLiteral(")"));
}

KeychainError KeychainError::encoding()
{
    return KeychainError(
        Case::encoding, 0,
        QStringLiteral("Tessera could not prepare sign-in data for secure storage."));
}

KeychainError KeychainError::decoding()
{
    return KeychainError(
        Case::decoding, 0,
        QStringLiteral("Tessera could not read the saved sign-in from its secure store."));
}

KeychainError KeychainError::invalidItem()
{
    return KeychainError(
        Case::invalidItem, 0,
        QStringLiteral("Tessera could not read the saved sign-in from its secure store."));
}

bool KeychainError::operator==(const KeychainError &other) const
{
    return m_case == other.m_case &&
           (m_case != Case::operationFailed || m_status == other.m_status);
}

Keychain::Keychain(KeychainSecurityOperations operations)
    : m_operations(std::move(operations))
{}

QVariantMap Keychain::baseQuery(const QString &account)
{
    using namespace keychainattr;
    return QVariantMap{
        {QLatin1String(itemClass), QLatin1String(genericPassword)},
        {QLatin1String(service), QLatin1String(keychainServiceName)},
        {QLatin1String(keychainattr::account), account},
    };
}

KeychainError Keychain::failure(std::int32_t status) const
{
    return KeychainError::operationFailed(
        status, m_operations.describeFailure ? m_operations.describeFailure(status) : QString());
}

std::optional<QByteArray> Keychain::loadData(const QString &account) const
{
    QVariantMap query = baseQuery(account);
    query.insert(QLatin1String(keychainattr::returnData), true);
    query.insert(QLatin1String(keychainattr::matchLimit),
                 QLatin1String(keychainattr::matchLimitOne));
    const KeychainCopyResult answer = m_operations.copyMatching(query);
    if (answer.status == keychainStatusSuccess) {
        if (!answer.result || answer.result->typeId() != QMetaType::QByteArray) {
            throw KeychainError::invalidItem();
        }
        return answer.result->toByteArray();
    }
    if (answer.status == keychainStatusItemNotFound) {
        return std::nullopt;
    }
    throw failure(answer.status);
}

void Keychain::saveData(const QByteArray &data, const QString &account) const
{
    const QVariantMap query = baseQuery(account);
    std::int32_t status =
        m_operations.update(query, QVariantMap{{QLatin1String(keychainattr::valueData), data}});
    if (status == keychainStatusItemNotFound) {
        QVariantMap attributes = query;
        attributes.insert(QLatin1String(keychainattr::valueData), data);
        status = m_operations.add(attributes);
    }
    if (status != keychainStatusSuccess) {
        throw failure(status);
    }
}

void Keychain::remove(const QString &account) const
{
    const std::int32_t status = m_operations.remove(baseQuery(account));
    if (status != keychainStatusSuccess && status != keychainStatusItemNotFound) {
        throw failure(status);
    }
}

} // namespace tessera
