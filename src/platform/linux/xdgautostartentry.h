#pragma once

#include "platform/autostart.h"

namespace tessera {

// Launch at login through an XDG autostart entry ($XDG_CONFIG_HOME/autostart).
class XdgAutostartEntry : public LoginItem
{
public:
    // `executable` is what the entry runs; by default this process's binary.
    explicit XdgAutostartEntry(QString executable = {});

    QString entryPath() const;
    Status status() const override;
    bool enable(QString *failure = nullptr) const override;
    bool disable(QString *failure = nullptr) const override;

private:
    QString m_executable;
};

} // namespace tessera
