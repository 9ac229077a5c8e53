#pragma once

#include <QWidget>

namespace tessera {

class QuickSwitcherView;

// The floating Quick Search window: frameless, above other windows, no taskbar entry,
// taking the keyboard focus. Translucent with rounded corners where a compositor can
// blend it, opaque otherwise. Reports when it stops being the active window.
class QuickSwitcherPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize panelSize{680, 440};

    explicit QuickSwitcherPanel(bool translucent, QWidget *parent = nullptr);

    QuickSwitcherView *view() const { return m_view; }
    bool isTranslucent() const { return m_translucent; }

    // Moves the panel to the screen that holds the pointer, centred, a little above the
    // middle.
    void placeOnPointerScreen();

Q_SIGNALS:
    // Another window became active (the user clicked elsewhere); context menus of the
    // panel itself do not count.
    void deactivated();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool m_translucent;
    QuickSwitcherView *m_view;
};

} // namespace tessera
