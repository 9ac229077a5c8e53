#include "ui/windowfocus.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace tessera {

QWidget *findSettingsWindow()
{
    const QStringList needles{QStringLiteral("settings"), QStringLiteral("preferences")};
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (!window->isWindow() || window->windowType() == Qt::Popup) {
            continue;
        }
        for (const QString &text : {window->objectName(), window->windowTitle()}) {
            const QString lower = text.toLower();
            for (const QString &needle : needles) {
                if (lower.contains(needle)) {
                    return window;
                }
            }
        }
    }
    return nullptr;
}

void bringToFront(QWidget *window)
{
    if (window->isMinimized()) {
        window->showNormal();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void focusSettingsWindow(int retries)
{
    if (QWidget *window = findSettingsWindow()) {
        bringToFront(window);
        return;
    }
    if (retries >= 1) {
        QTimer::singleShot(std::chrono::milliseconds(50), qApp,
                           [retries] { focusSettingsWindow(retries - 1); });
    }
}

} // namespace tessera
