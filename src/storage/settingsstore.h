#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace tessera {

// Per-user key-value settings with registered defaults: a stored value wins, otherwise
// the registered default applies, otherwise the key is absent. The typed readers follow
// the usual conventions: an absent string is std::nullopt, an absent integer 0, an
// absent bool false.
class SettingsStore
{
public:
    virtual ~SettingsStore();

    void registerDefaults(const QVariantMap &defaults);

    std::optional<QVariant> value(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    int integer(const QString &key) const;
    bool boolean(const QString &key) const;

    void setString(const QString &key, const QString &value) { storeValue(key, value); }
    void setInteger(const QString &key, int value) { storeValue(key, value); }
    void setBool(const QString &key, bool value) { storeValue(key, value); }
    void remove(const QString &key) { removeValue(key); }

    // Whether the user stored a value (registered defaults do not count).
    bool hasStoredValue(const QString &key) const { return storedValue(key).has_value(); }

protected:
    virtual std::optional<QVariant> storedValue(const QString &key) const = 0;
    virtual void storeValue(const QString &key, const QVariant &value) = 0;
    virtual void removeValue(const QString &key) = 0;

private:
    QVariantMap m_defaults;
};

class InMemorySettingsStore final : public SettingsStore
{
protected:
    std::optional<QVariant> storedValue(const QString &key) const override;
    void storeValue(const QString &key, const QVariant &value) override;
    void removeValue(const QString &key) override;

private:
    QVariantMap m_values;
};

// The user's standard settings: QSettings in the native format for organization and
// application "Tessera" (~/.config/Tessera/Tessera.conf on Linux).
class QSettingsStore final : public SettingsStore
{
public:
    QSettingsStore();
    explicit QSettingsStore(const QString &filePath);

protected:
    std::optional<QVariant> storedValue(const QString &key) const override;
    void storeValue(const QString &key, const QVariant &value) override;
    void removeValue(const QString &key) override;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace tessera
