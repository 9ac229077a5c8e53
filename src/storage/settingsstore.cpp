#include "storage/settingsstore.h"

#include "foundation/logging.h"

namespace tessera {

namespace {
// A setting is written the moment a control changes; the control already shows the new
// value, so a failure to store it is logged rather than shown.
void syncLogged(QSettings &settings, const QString &key)
{
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qCWarning(lcPersistence).noquote()
            << "Could not store the setting" << key << "in" << settings.fileName();
    }
}
} // namespace

SettingsStore::~SettingsStore() = default;

void SettingsStore::registerDefaults(const QVariantMap &defaults)
{
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        m_defaults.insert(it.key(), it.value());
    }
}

std::optional<QVariant> SettingsStore::value(const QString &key) const
{
    if (auto stored = storedValue(key)) {
        return stored;
    }
    const auto it = m_defaults.constFind(key);
    if (it != m_defaults.constEnd()) {
        return *it;
    }
    return std::nullopt;
}

std::optional<QString> SettingsStore::string(const QString &key) const
{
    const auto v = value(key);
    if (!v || !v->canConvert<QString>()) {
        return std::nullopt;
    }
    return v->toString();
}

int SettingsStore::integer(const QString &key) const
{
    const auto v = value(key);
    if (!v) {
        return 0;
    }
    bool ok = false;
    const int result = v->toInt(&ok);
    if (ok) {
        return result;
    }
    // "15.0" and friends: fall back to a double reading, as the platform stores do.
    const double d = v->toDouble(&ok);
    return ok ? static_cast<int>(d) : 0;
}

bool SettingsStore::boolean(const QString &key) const
{
    const auto v = value(key);
    if (!v) {
        return false;
    }
    if (v->typeId() == QMetaType::QString) {
        const QString text = v->toString().trimmed().toLower();
        return text == QLatin1String("true") || text == QLatin1String("yes") || text.toInt() != 0;
    }
    return v->toBool();
}

std::optional<QVariant> InMemorySettingsStore::storedValue(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void InMemorySettingsStore::storeValue(const QString &key, const QVariant &value)
{
    m_values.insert(key, value);
}

void InMemorySettingsStore::removeValue(const QString &key)
{
    m_values.remove(key);
}

QSettingsStore::QSettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Tessera"), QStringLiteral("Tessera")))
{}

QSettingsStore::QSettingsStore(const QString &filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{}

std::optional<QVariant> QSettingsStore::storedValue(const QString &key) const
{
    if (!m_settings->contains(key)) {
        return std::nullopt;
    }
    return m_settings->value(key);
}

void QSettingsStore::storeValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    syncLogged(*m_settings, key);
}

void QSettingsStore::removeValue(const QString &key)
{
    m_settings->remove(key);
    syncLogged(*m_settings, key);
}

} // namespace tessera
