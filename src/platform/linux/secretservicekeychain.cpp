#include "foundation/logging.h"
#include "platform/linux/secretservice.h"

// GLib's headers use "signals" and "slots" as identifiers; the build defines
// QT_NO_KEYWORDS, so they can be included after Qt's.
#include <QAbstractEventDispatcher>
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

// One asynchronous libsecret call awaited by a coroutine. GLib calls `finished` from its
// main context, which Qt's event loop iterates. The call's state lives on the heap so
// that a callback arriving after the waiting coroutine was destroyed only frees it; that
// destruction also cancels the call.
class PendingCall
{
public:
    PendingCall()
        : m_state(new State)
    {}
    PendingCall(const PendingCall &) = delete;
    PendingCall &operator=(const PendingCall &) = delete;
    ~PendingCall()
    {
        if (m_state->finished) {
            delete m_state;
            return;
        }
        m_state->orphaned = true;
        g_cancellable_cancel(m_state->cancellable);
    }

    GCancellable *cancellable() const { return m_state->cancellable; }
    gpointer userData() const { return m_state; }

    static void finished(GObject *, GAsyncResult *result, gpointer userData)
    {
        auto *state = static_cast<State *>(userData);
        if (state->orphaned) {
            delete state;
            return;
        }
        state->result = G_ASYNC_RESULT(g_object_ref(result));
        state->finished = true;
        if (state->waiter) {
            state->waiter.resume();
        }
    }

private:
    struct State;

public:
    struct Awaiter
    {
        State *state;
        bool await_ready() const noexcept { return state->finished; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { state->waiter = waiter; }
        GAsyncResult *await_resume() const noexcept { return state->result; }
    };
    // The call's result, valid while this object lives.
    Awaiter result() const { return Awaiter{m_state}; }

private:
    struct State
    {
        GCancellable *cancellable = g_cancellable_new();
        GAsyncResult *result = nullptr;
        std::coroutine_handle<> waiter;
        bool finished = false;
        bool orphaned = false;
        ~State()
        {
            if (result) {
                g_object_unref(result);
            }
            g_object_unref(cancellable);
        }
    };
    State *m_state;
};

// libsecret answers on GLib's default main context, which only Qt's GLib event
// dispatcher iterates (Qt uses another one when built without GLib or run with
// QT_NO_GLIB set). Without it an answer would never arrive and the caller would wait
// for ever, so the store reports itself unavailable instead.
bool eventLoopDrivesGLib()
{
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher && dispatcher->inherits("QEventDispatcherGlib")) {
        return true;
    }
    qCCritical(lcPersistence) << "The Secret Service cannot be reached: the Qt event loop does not"
                                 " run GLib's main context (is QT_NO_GLIB set?)";
    return false;
}

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
        // Tessera cancels a call only when nobody waits for its answer any more, so a
        // cancellation seen here is an unlock prompt the user dismissed.
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
QCoro::Task<ServicePtr> connectService(std::int32_t &status)
{
    PendingCall call;
    secret_service_get(SECRET_SERVICE_OPEN_SESSION, call.cancellable(), &PendingCall::finished,
                       call.userData());
    GAsyncResult *result = co_await call.result();
    ErrorSlot error;
    ServicePtr service(secret_service_get_finish(result, error.out()));
    if (!service) {
        const ErrorPtr failure = error.take();
        status = failure ? statusFor("connection", failure.get()) : secretServiceStatusUnavailable;
        co_return ServicePtr();
    }
    // GLib ends the whole process when its session-bus connection closes. Tessera keeps
    // running when the bus restarts and reports the store as unavailable instead.
    g_dbus_connection_set_exit_on_close(g_dbus_proxy_get_connection(G_DBUS_PROXY(service.get())),
                                        FALSE);
    co_return service;
}

// The items matching the identity. With SECRET_SEARCH_UNLOCK, locked items are offered
// to the keyring for unlocking first (which may prompt the user); those it keeps locked
// are still returned, so that a locked keyring is never mistaken for a missing item.
QCoro::Task<std::optional<ItemListPtr>> searchItems(SecretService *service,
                                                    const ItemIdentity &identity, int flags,
                                                    const char *operation, std::int32_t &status)
{
    const AttributesPtr attributes = attributesOf(identity);
    PendingCall call;
    secret_service_search(service, tesseraSchema(), attributes.get(),
                          static_cast<SecretSearchFlags>(flags), call.cancellable(),
                          &PendingCall::finished, call.userData());
    GAsyncResult *result = co_await call.result();
    ErrorSlot error;
    GList *items = secret_service_search_finish(service, result, error.out());
    if (ErrorPtr failure = error.take()) {
        g_list_free_full(items, g_object_unref);
        status = statusFor(operation, failure.get());
        co_return std::nullopt;
    }
    co_return ItemListPtr(items);
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

QCoro::Task<std::optional<Connection>> connectFor(const QVariantMap &query, std::int32_t &status)
{
    auto identity = identityOf(query);
    if (!identity) {
        qCWarning(lcPersistence) << "Secret Service query without service or account";
        status = secretServiceStatusInvalidQuery;
        co_return std::nullopt;
    }
    if (!eventLoopDrivesGLib()) {
        status = secretServiceStatusUnavailable;
        co_return std::nullopt;
    }
    ServicePtr service = co_await connectService(status);
    if (!service) {
        co_return std::nullopt;
    }
    co_return Connection{std::move(*identity), std::move(service)};
}

QCoro::Task<KeychainCopyResult> copyMatching(QVariantMap query)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = co_await connectFor(query, status);
    if (!connection) {
        co_return KeychainCopyResult{status, std::nullopt};
    }
    const auto items =
        co_await searchItems(connection->service.get(), connection->identity,
                             SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS, "lookup", status);
    if (!items) {
        co_return KeychainCopyResult{status, std::nullopt};
    }
    if (!*items) {
        co_return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
    }
    auto *item = static_cast<SecretItem *>(items->get()->data);
    if (secret_item_get_locked(item)) {
        qCWarning(lcPersistence) << "Secret Service lookup failed: the keyring stayed locked";
        co_return KeychainCopyResult{secretServiceStatusLocked, std::nullopt};
    }
    const ValuePtr value(secret_item_get_secret(item));
    if (!value) {
        qCWarning(lcPersistence) << "Secret Service lookup failed: the item had no secret";
        co_return KeychainCopyResult{secretServiceStatusFailure, std::nullopt};
    }
    gsize length = 0;
    const gchar *bytes = secret_value_get(value.get(), &length);
    co_return KeychainCopyResult{keychainStatusSuccess,
                                 QVariant(QByteArray(bytes, static_cast<qsizetype>(length)))};
}

QCoro::Task<std::int32_t> update(QVariantMap query, QVariantMap attributes)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = co_await connectFor(query, status);
    if (!connection) {
        co_return status;
    }
    const auto items =
        co_await searchItems(connection->service.get(), connection->identity,
                             SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK, "update", status);
    if (!items) {
        co_return status;
    }
    if (!*items) {
        co_return keychainStatusItemNotFound;
    }
    const ValuePtr value = secretValueOf(attributes);
    for (GList *node = items->get(); node; node = node->next) {
        auto *item = static_cast<SecretItem *>(node->data);
        if (secret_item_get_locked(item)) {
            qCWarning(lcPersistence) << "Secret Service update failed: the keyring stayed locked";
            co_return secretServiceStatusLocked;
        }
        PendingCall call;
        secret_item_set_secret(item, value.get(), call.cancellable(), &PendingCall::finished,
                               call.userData());
        GAsyncResult *result = co_await call.result();
        ErrorSlot error;
        if (!secret_item_set_secret_finish(item, result, error.out())) {
            const ErrorPtr failure = error.take();
            co_return failure ? statusFor("update", failure.get()) : secretServiceStatusFailure;
        }
    }
    co_return keychainStatusSuccess;
}

QCoro::Task<std::int32_t> add(QVariantMap attributes)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = co_await connectFor(attributes, status);
    if (!connection) {
        co_return status;
    }
    // Keyring browsers show the label; it names the owner and the item.
    const QByteArray label =
        QByteArrayLiteral("Tessera sign-in (") + connection->identity.account + ')';
    const AttributesPtr itemAttributes = attributesOf(connection->identity);
    const ValuePtr value = secretValueOf(attributes);
    PendingCall call;
    secret_service_store(connection->service.get(), tesseraSchema(), itemAttributes.get(),
                         SECRET_COLLECTION_DEFAULT, label.constData(), value.get(),
                         call.cancellable(), &PendingCall::finished, call.userData());
    GAsyncResult *result = co_await call.result();
    ErrorSlot error;
    if (!secret_service_store_finish(connection->service.get(), result, error.out())) {
        const ErrorPtr failure = error.take();
        co_return failure ? statusFor("add", failure.get()) : secretServiceStatusFailure;
    }
    co_return keychainStatusSuccess;
}

QCoro::Task<std::int32_t> remove(QVariantMap query)
{
    std::int32_t status = secretServiceStatusFailure;
    const auto connection = co_await connectFor(query, status);
    if (!connection) {
        co_return status;
    }
    const AttributesPtr attributes = attributesOf(connection->identity);
    PendingCall call;
    secret_service_clear(connection->service.get(), tesseraSchema(), attributes.get(),
                         call.cancellable(), &PendingCall::finished, call.userData());
    GAsyncResult *result = co_await call.result();
    ErrorSlot error;
    const gboolean removed =
        secret_service_clear_finish(connection->service.get(), result, error.out());
    if (const ErrorPtr failure = error.take()) {
        co_return statusFor("delete", failure.get());
    }
    co_return removed ? keychainStatusSuccess : keychainStatusItemNotFound;
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
    return operations;
}

} // namespace tessera
