#include "ui/icons.h"

#include <QString>

static void initTesseraIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace tessera {

namespace {
struct SymbolSource
{
    const char *themeName; // freedesktop icon naming; nullptr: always bundled
    const char *bundledFile;
};

SymbolSource sourceOf(Symbol symbol)
{
    switch (symbol) {
    case Symbol::cloud:
        return {nullptr, "cloud"};
    case Symbol::cloudSignedOut:
        return {nullptr, "cloud-signed-out"};
    case Symbol::cloudSigningIn:
        return {nullptr, "cloud-signing-in"};
    case Symbol::cloudError:
        return {nullptr, "cloud-error"};
    case Symbol::sync:
        return {"view-refresh", "refresh"};
    case Symbol::settings:
        return {"preferences-system", "gear"};
    case Symbol::moreActions:
        return {"view-more", "ellipsis"};
    case Symbol::signIn:
        return {"dialog-password", "person-key"};
    case Symbol::warning:
        return {"dialog-warning", "warning"};
    case Symbol::search:
        return {"edit-find", "search"};
    case Symbol::clearText:
        return {"edit-clear", "clear"};
    case Symbol::pin:
        return {nullptr, "pin"};
    case Symbol::folded:
        return {"go-next", "chevron-right"};
    case Symbol::unfolded:
        return {"go-down", "chevron-down"};
    case Symbol::openConsole:
        return {"document-open-remote", "open-external"};
    case Symbol::checkmark:
        return {"object-select", "check"};
    case Symbol::valid:
        return {nullptr, "check-circle"};
    case Symbol::invalid:
        return {nullptr, "exclamation-circle"};
    case Symbol::globe:
        return {"applications-internet", "globe"};
    case Symbol::grid:
        return {"view-grid", "grid"};
    case Symbol::terminal:
        return {"utilities-terminal", "terminal"};
    }
    return {nullptr, "cloud"};
}
} // namespace

QIcon symbolIcon(Symbol symbol)
{
    static const bool resourcesLoaded = [] {
        initTesseraIconResources();
        return true;
    }();
    Q_UNUSED(resourcesLoaded);

    const SymbolSource source = sourceOf(symbol);
    const QIcon bundled(
        QStringLiteral(":/tessera/icons/%1.svg").arg(QLatin1String(source.bundledFile)));
    if (!source.themeName) {
        return bundled;
    }
    return QIcon::fromTheme(QLatin1String(source.themeName), bundled);
}

} // namespace tessera
