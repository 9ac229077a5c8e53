#pragma once

#include <QString>
#include <memory>

namespace tessera {

// Whether Tessera starts when the user logs in, and the switch for it.
class LoginItem
{
public:
    enum class Status
    {
        notRegistered,
        enabled
    };

    virtual ~LoginItem() = default;

    virtual Status status() const = 0;
    bool isEnabled() const { return status() == Status::enabled; }
    // Both return false when the change could not be made, and then say why in `failure`
    // (a sentence for the user).
    virtual bool enable(QString *failure = nullptr) const = 0;
    virtual bool disable(QString *failure = nullptr) const = 0;
};

// Starts this process's binary at login, the desktop's way.
std::shared_ptr<LoginItem> makeLoginItem();

} // namespace tessera
