#pragma once

class QWidget;

namespace tessera {

// The first top-level window whose object name or title says "settings" or
// "preferences", or nullptr.
QWidget *findSettingsWindow();

// Brings the settings window to the front. The window may still be on its way (it is
// opened by a queued request), so a miss retries `retries` more times, 50 ms apart.
void focusSettingsWindow(int retries);

// Restores, raises and activates a window.
void bringToFront(QWidget *window);

} // namespace tessera
