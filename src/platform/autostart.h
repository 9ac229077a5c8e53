#pragma once

#include <QString>

namespace tessera {

// Launch at login through an XDG autostart entry ($XDG_CONFIG_HOME/autostart).
class LoginItem
{
public:
    enum class Status
    {
        notRegistered,
        enabled
    };

    // `executable` is what the entry runs; by default this process's binary.
    explicit LoginItem(QString executable = {});

    QString entryPath() const;
    Status status() const;
    bool isEnabled() const { return status() == Status::enabled; }
    // Both return false when the entry could not be written or removed, and then say why
    // in `failure` (a sentence for the user).
    bool enable(QString *failure = nullptr) const;
    bool disable(QString *failure = nullptr) const;

private:
    QString m_executable;
};

} // namespace tessera
