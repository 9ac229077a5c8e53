#pragma once

#include <QString>

namespace tessera {

// Launch at login through an XDG autostart entry ($XDG_CONFIG_HOME/autostart).
class LoginItem
{
public:
    // `executable` is what the entry runs; by default this process's binary.
    explicit LoginItem(QString executable = {});

    QString entryPath() const;
    bool isEnabled() const;
    // Both return false when the entry could not be written or removed.
    bool enable() const;
    bool disable() const;

private:
    QString m_executable;
};

} // namespace tessera
