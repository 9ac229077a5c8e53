#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace tessera {

// Shows a short message in the desktop's notification area, for what the user should
// learn while no Tessera window is in view.
class DesktopNotifier
{
public:
    // What shows a message when the desktop's notification service cannot.
    using Fallback = std::function<void(const QString &title, const QString &body)>;

    virtual ~DesktopNotifier() = default;
    virtual void notify(const QString &title, const QString &body) = 0;
};

// org.freedesktop.Notifications on the session bus; `fallback` where it does not answer.
std::unique_ptr<DesktopNotifier> makeDesktopNotifier(DesktopNotifier::Fallback fallback);

} // namespace tessera
