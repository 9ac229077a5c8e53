#include "ui/icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QString>
#include <QSvgRenderer>

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
// The grey the bundled one-colour glyphs are drawn in.
constexpr auto glyphGrey = "#5f6368";

// A bundled glyph in the colour of the current palette's text, so that it stays visible
// under a dark style; coloured symbols stay as drawn.
QIcon bundledIcon(const QString &path)
{
    QFile file(path);
    QByteArray svg = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (!svg.contains(glyphGrey)) {
        return QIcon(path);
    }
    const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
    svg.replace(glyphGrey, text.name().toLatin1());
    QSvgRenderer renderer(svg);
    QIcon icon;
    // Enough sizes for the panel, menus and a scale of 2.
    for (const int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
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
    const QString bundled =
        QStringLiteral(":/tessera/icons/%1.svg").arg(QLatin1String(source.bundledFile));
    if (source.themeName && QIcon::hasThemeIcon(QLatin1String(source.themeName))) {
        return QIcon::fromTheme(QLatin1String(source.themeName));
    }
    return bundledIcon(bundled);
}

} // namespace tessera
