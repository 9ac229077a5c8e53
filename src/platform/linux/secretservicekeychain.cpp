#include "foundation/logging.h"
#include "platform/secretstore.h"

// GLib's headers use "signals" and "slots" as identifiers; the build defines
// QT_NO_KEYWORDS, so they can be included after Qt's.
#include <libsecret/secret.h>
#include <memory>

namespace tessera {

namespace {

struct GErrorDeleter
{
    void operator()(GError *error) const { g_error_free(error); }
};
struct GObjectDeleter
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SecretValueDeleter
{
    void operator()(SecretValue *value) const { secret_value_unref(value); }
};
struct HashTableDeleter
{
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
};
struct ItemListDeleter
{
    void operator()(GList *items) const { g_list_free_full(items, g_object_unref); }
};

using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using ServicePtr = std::unique_ptr<SecretService, GObjectDeleter>;
using ValuePtr = std::unique_ptr<SecretValue, SecretValueDeleter>;
using AttributesPtr = std::unique_ptr<GHashTable, HashTableDeleter>;
using ItemListPtr = std::unique_ptr<GList, ItemListDeleter>;

// Collects a GError from a libsecret call and frees it however the call returns.
class ErrorSlot
{
public:
    GError **out() { return &m_error; }
    ErrorPtr take()
    {
        ErrorPtr error(m_error);
        m_error = nullptr;
        return error;
    }
    ~ErrorSlot()
    {
        if (m_error) {
            g_error_free(m_error);
        }
    }
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot &) = delete;
    ErrorSlot &operator=(const ErrorSlot &) = delete;

private:
    GError *m_error = nullptr;
};

// Items match on service and account alone, like a generic password, so an item another
// tool stored under the same two attributes is found as well.
const SecretSchema *tesseraSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "com.tessera.app.SignIn";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

struct ItemIdentity
{
    QByteArray service;
    QByteArray account;
};

std::optional<ItemIdentity> identityOf(const QVariantMap &query)
{
    const QVariant service = query.value(QLatin1String(keychainattr::service));
    const QVariant account = query.value(QLatin1String(keychainattr::account));
    if (service.typeId() != QMetaType::QString || account.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return ItemIdentity{service.toString().toUtf8(), account.toString().toUtf8()};
}

AttributesPtr attributesOf(const ItemIdentity &identity)
{
    return AttributesPtr(secret_attributes_build(tesseraSchema(), "service",
                                                 identity.service.constData(), "account",
                                                 identity.account.constData(), nullptr));
}

bool isUnavailable(const GError *error)
{
    if (error->domain == G_IO_ERROR) {
        return error->code != G_IO_ERROR_CANCELLED;
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_NO_REPLY:
        case G_DBUS_ERROR_TIMEOUT:
        case G_DBUS_ERROR_TIMED_OUT:
        case G_DBUS_ERROR_UNKNOWN_METHOD:
        case G_DBUS_ERROR_UNKNOWN_OBJECT:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_FORK_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
        case G_DBUS_ERROR_SPAWN_FAILED:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
        case G_DBUS_ERROR_SPAWN_FILE_INVALID:
            return true;
        default:
            return false;
        }
    }
    return false;
}

std::int32_t statusFor(const char *operation, const GError *error)
{
    std::int32_t status = secretServiceStatusFailure;
    if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED) {
        status = secretServiceStatusLocked;
    } else if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED) {
        // The only cancellation a synchronous call sees is an unlock prompt the user
        // dismissed.
        status = secretServiceStatusLocked;
    } else if (isUnavailable(error)) {
        status = secretServiceStatusUnavailable;
    }
    // The message names the bus, object or error, never the secret.
    qCWarning(lcPersistence).noquote().nospace()
        << "Secret Service " << operation << " failed (status " << status
        << "): " << QString::fromUtf8(error->message);
    return status;
}

// The process-wide connection to the Secret Service, made on first use.
ServicePtr connectService(std::int32_t &status)
{
    ErrorSlot error;
    ServicePtr service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, error.out()));
    if (!service) {
        const ErrorPtr failure = error.take();
        status = failure ? statusFor("connection", failure.get()) : secretServiceStatusUnavailable;
        return nullptr;
    }
    // GLib ends the whole process when its session-bus connection closes. Tessera keeps
    // running when the bus restarts and reports the store as unavailable instead.
    g_dbus_connection_set_exit_on_close(g_dbus_proxy_get_connection(G_DBUS_PROXY(service.get())),
                                        FALSE);
    return service;
}

// The items matching the identity. With SECRET_SEARCH_UNLOCK, locked items are offered
// to the keyring for unlocking first (which may prompt the user); those it keeps locked
// are still returned, so that a locked keyring is never mistaken for a missing item.
std::optional<ItemListPtr> searchItems(SecretService *service, const ItemIdentity &identity,
                                       int flags, const char *operation, std::int32_t &status)
{
    ErrorSlot error;
    const AttributesPtr attributes = attributesOf(identity);
    GList *items =
        secret_service_search_sync(service, tesseraSchema(), attributes.get(),
                                   static_cast<SecretSearchFlags>(flags), nullptr, error.out());
    if (ErrorPtr failure = error.take()) {
        g_list_free_full(items, g_object_unref);
        status = statusFor(operation, failure.get());
        return std::nullopt;
    }
    return ItemListPtr(items);
}

ValuePtr secretValueOf(const QVariantMap &attributes)
{
    const QByteArray data = attributes.value(QLatin1String(keychainattr::valueData)).toByteArray();
    return ValuePtr(secret_value_new(data.constData(), data.size(), "application/octet-stream"));
}

// The item's identity and the connected service, or the status to answer instead.
struct Connection
{
    ItemIdentity identity;
    ServicePtr service;
};

std::optional<Connection> connectFor(const QVariantMap &query, std::int32_t &status)
{
    auto identity = identityOf(query);
    if (!identity) {
        status = secretServiceStatusInvalidQuery;
        return std::nullopt;
    }
    ServicePtr service = connectService(status);
    if (!service) {
        return std::nullopt;
    }
    return Connection{std::move(*identity), std::move(service)};
}

KeychainCopyResult copyMatching(const QVariantMap &query)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = connectFor(query, status);
    if (!connection) {
        return {status, std::nullopt};
    }
    const auto items =
        searchItems(connection->service.get(), connection->identity,
                    SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS, "lookup", status);
    if (!items) {
        return {status, std::nullopt};
    }
    if (!*items) {
        return {keychainStatusItemNotFound, std::nullopt};
    }
    auto *item = static_cast<SecretItem *>(items->get()->data);
    if (secret_item_get_locked(item)) {
        qCWarning(lcPersistence) << "Secret Service lookup failed: the keyring stayed locked";
        return {secretServiceStatusLocked, std::nullopt};
    }
    const ValuePtr value(secret_item_get_secret(item));
    if (!value) {
        qCWarning(lcPersistence) << "Secret Service lookup failed: the item had no secret";
        return {secretServiceStatusFailure, std::nullopt};
    }
    gsize length = 0;
    const gchar *bytes = secret_value_get(value.get(), &length);
    return {keychainStatusSuccess, QVariant(QByteArray(bytes, static_cast<qsizetype>(length)))};
}

std::int32_t update(const QVariantMap &query, const QVariantMap &attributes)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = connectFor(query, status);
    if (!connection) {
        return status;
    }
    const auto items = searchItems(connection->service.get(), connection->identity,
                                   SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK, "update", status);
    if (!items) {
        return status;
    }
    if (!*items) {
        return keychainStatusItemNotFound;
    }
    const ValuePtr value = secretValueOf(attributes);
    for (GList *node = items->get(); node; node = node->next) {
        auto *item = static_cast<SecretItem *>(node->data);
        if (secret_item_get_locked(item)) {
            qCWarning(lcPersistence) << "Secret Service update failed: the keyring stayed locked";
            return secretServiceStatusLocked;
        }
        ErrorSlot error;
        if (!secret_item_set_secret_sync(item, value.get(), nullptr, error.out())) {
            const ErrorPtr failure = error.take();
            return failure ? statusFor("update", failure.get()) : secretServiceStatusFailure;
        }
    }
    return keychainStatusSuccess;
}

std::int32_t add(const QVariantMap &attributes)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = connectFor(attributes, status);
    if (!connection) {
        return status;
    }
    // Keyring browsers show the label; it names the owner and the item.
    const QByteArray label =
        QByteArrayLiteral("Tessera sign-in (") + connection->identity.account + ')';
    const AttributesPtr itemAttributes = attributesOf(connection->identity);
    const ValuePtr value = secretValueOf(attributes);
    ErrorSlot error;
    if (!secret_service_store_sync(connection->service.get(), tesseraSchema(), itemAttributes.get(),
                                   SECRET_COLLECTION_DEFAULT, label.constData(), value.get(),
                                   nullptr, error.out())) {
        const ErrorPtr failure = error.take();
        return failure ? statusFor("add", failure.get()) : secretServiceStatusFailure;
    }
    return keychainStatusSuccess;
}

std::int32_t remove(const QVariantMap &query)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = connectFor(query, status);
    if (!connection) {
        return status;
    }
    const AttributesPtr attributes = attributesOf(connection->identity);
    ErrorSlot error;
    const gboolean removed = secret_service_clear_sync(connection->service.get(), tesseraSchema(),
                                                       attributes.get(), nullptr, error.out());
    if (const ErrorPtr failure = error.take()) {
        return statusFor("delete", failure.get());
    }
    return removed ? keychainStatusSuccess : keychainStatusItemNotFound;
}

} // namespace

KeychainSecurityOperations makeSecretServiceKeychainOperations()
{
    KeychainSecurityOperations operations;
    operations.copyMatching = copyMatching;
    operations.update = update;
    operations.add = add;
    operations.remove = remove;
    operations.storeDescription = QStringLiteral("the desktop keyring (Secret Service)");
    operations.describeFailure = [](std::int32_t status) -> QString {
        QString reason = QStringLiteral("the request failed");
        if (status == secretServiceStatusLocked) {
            reason = QStringLiteral("the keyring is locked and was not unlocked");
        } else if (status == secretServiceStatusUnavailable) {
            reason = QStringLiteral("no keyring service answered on the session bus");
        } else if (status == secretServiceStatusInvalidQuery) {
            reason = QStringLiteral("the item could not be named");
        }
        return QStringLiteral("Tessera could not access the Secret Service (GNOME Keyring or "
                              "KWallet): ") +
               reason;
    };
    return operations;
}

} // namespace tessera
