#include "storage/keychain.h"

#include "foundation/asyncevent.h"

#include <deque>

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

namespace {
template<typename Result, typename Function, typename... Arguments>
QCoro::Task<Result> answerAtOnce(Function function, Arguments... arguments)
{
    co_return function(arguments...);
}
} // namespace

KeychainSecurityOperations answeredAtOnce(ImmediateKeychainOperations immediate)
{
    KeychainSecurityOperations operations;
    operations.copyMatching = [copy = std::move(immediate.copyMatching)](QVariantMap query) {
        return answerAtOnce<KeychainCopyResult>(copy, std::move(query));
    };
    operations.update = [update = std::move(immediate.update)](QVariantMap query,
                                                               QVariantMap attributes) {
        return answerAtOnce<std::int32_t>(update, std::move(query), std::move(attributes));
    };
    operations.add = [add = std::move(immediate.add)](QVariantMap attributes) {
        return answerAtOnce<std::int32_t>(add, std::move(attributes));
    };
    operations.remove = [remove = std::move(immediate.remove)](QVariantMap query) {
        return answerAtOnce<std::int32_t>(remove, std::move(query));
    };
    operations.storeDescription = std::move(immediate.storeDescription);
    operations.describeFailure = std::move(immediate.describeFailure);
    return operations;
}

struct Keychain::Shared
{
    KeychainSecurityOperations operations;
    // Whether an operation is running, and those waiting for their turn, oldest first.
    bool busy = false;
    std::deque<std::shared_ptr<AsyncEvent>> waiting;
};

// One operation's exclusive use of the store, from the moment it is granted until the
// object is destroyed, which hands the store to the next waiter.
class Keychain::Turn
{
public:
    explicit Turn(std::shared_ptr<Shared> shared)
        : m_shared(std::move(shared))
    {}
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;
    ~Turn()
    {
        if (!m_granted) {
            return;
        }
        if (m_shared->waiting.empty()) {
            m_shared->busy = false;
            return;
        }
        const std::shared_ptr<AsyncEvent> next = m_shared->waiting.front();
        m_shared->waiting.pop_front();
        next->set();
    }

    QCoro::Task<void> begin()
    {
        if (m_shared->busy) {
            auto myTurn = std::make_shared<AsyncEvent>();
            m_shared->waiting.push_back(myTurn);
            co_await *myTurn;
        }
        m_shared->busy = true;
        m_granted = true;
    }

private:
    std::shared_ptr<Shared> m_shared;
    bool m_granted = false;
};

Keychain::Keychain(KeychainSecurityOperations operations)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->operations = std::move(operations);
}

const KeychainSecurityOperations &Keychain::operations() const
{
    return m_shared->operations;
}

KeychainError Keychain::failure(const Shared &shared, std::int32_t status)
{
    return KeychainError::operationFailed(status, shared.operations.describeFailure
                                                      ? shared.operations.describeFailure(status)
                                                      : QString());
}

QVariantMap Keychain::baseQuery(const QString &account)
{
    using namespace keychainattr;
    return QVariantMap{
        {QLatin1String(itemClass), QLatin1String(genericPassword)},
        {QLatin1String(service), QLatin1String(keychainServiceName)},
        {QLatin1String(keychainattr::account), account},
    };
}

QCoro::Task<std::optional<QByteArray>> Keychain::loadData(QString account) const
{
    return runLoad(m_shared, std::move(account));
}

QCoro::Task<void> Keychain::saveData(QByteArray data, QString account) const
{
    return runSave(m_shared, std::move(data), std::move(account));
}

QCoro::Task<void> Keychain::remove(QString account) const
{
    return runRemove(m_shared, std::move(account));
}

QCoro::Task<std::optional<QByteArray>> Keychain::runLoad(std::shared_ptr<Shared> shared,
                                                         QString account)
{
    Turn turn(shared);
    co_await turn.begin();
    QVariantMap query = baseQuery(account);
    query.insert(QLatin1String(keychainattr::returnData), true);
    query.insert(QLatin1String(keychainattr::matchLimit),
                 QLatin1String(keychainattr::matchLimitOne));
    const KeychainCopyResult answer = co_await shared->operations.copyMatching(query);
    if (answer.status == keychainStatusSuccess) {
        if (!answer.result || answer.result->typeId() != QMetaType::QByteArray) {
            throw KeychainError::invalidItem();
        }
        co_return answer.result->toByteArray();
    }
    if (answer.status == keychainStatusItemNotFound) {
        co_return std::nullopt;
    }
    throw failure(*shared, answer.status);
}

QCoro::Task<void> Keychain::runSave(std::shared_ptr<Shared> shared, QByteArray data,
                                    QString account)
{
    Turn turn(shared);
    co_await turn.begin();
    const QVariantMap query = baseQuery(account);
    QVariantMap newValue;
    newValue.insert(QLatin1String(keychainattr::valueData), data);
    std::int32_t status = co_await shared->operations.update(query, newValue);
    if (status == keychainStatusItemNotFound) {
        QVariantMap attributes = query;
        attributes.insert(QLatin1String(keychainattr::valueData), data);
        status = co_await shared->operations.add(attributes);
    }
    if (status != keychainStatusSuccess) {
        throw failure(*shared, status);
    }
}

QCoro::Task<void> Keychain::runRemove(std::shared_ptr<Shared> shared, QString account)
{
    Turn turn(shared);
    co_await turn.begin();
    const std::int32_t status = co_await shared->operations.remove(baseQuery(account));
    if (status != keychainStatusSuccess && status != keychainStatusItemNotFound) {
        throw failure(*shared, status);
    }
}

} // namespace tessera
