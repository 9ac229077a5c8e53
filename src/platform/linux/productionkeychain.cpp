#include "foundation/logging.h"
#include "platform/linux/secretservice.h"
#include "platform/secretstore.h"
#include "storage/filekeychain.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace tessera {

bool secretServiceAvailable(const QDBusConnection &bus)
{
    if (!bus.isConnected() || !bus.interface()) {
        return false;
    }
    const QString name = QLatin1String(secretServiceBusName);
    QDBusConnectionInterface *busInterface = bus.interface();
    if (busInterface->isServiceRegistered(name).value()) {
        return true;
    }
    // A provider the bus starts on the first call counts as present.
    const QDBusReply<QStringList> activatable = busInterface->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(name);
}

bool secretServiceAvailable()
{
    return secretServiceAvailable(QDBusConnection::sessionBus());
}

KeychainSecurityOperations productionKeychainOperations()
{
    if (secretServiceAvailable()) {
        return makeSecretServiceKeychainOperations();
    }
    // Without a Secret Service the sign-in would otherwise be lost at every restart.
    KeychainSecurityOperations operations = makeFileKeychainOperations(defaultFileKeychainFolder());
    qCInfo(lcPersistence).noquote()
        << "No Secret Service on the session bus; sign-in data is kept in"
        << operations.storeDescription;
    return operations;
}

} // namespace tessera
