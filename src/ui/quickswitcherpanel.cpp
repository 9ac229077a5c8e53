#include "ui/quickswitcherpanel.h"

#include "platform/popupplacement.h"
#include "ui/quickswitcherview.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace tessera {

namespace {
constexpr qreal cornerRadius = 12;
}

QuickSwitcherPanel::QuickSwitcherPanel(bool translucent, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_translucent(translucent)
{
    setObjectName(QStringLiteral("quickSearchPanel"));
    setWindowTitle(qtTrId("Quick Search"));
    setAttribute(Qt::WA_TranslucentBackground, translucent);
    setFixedSize(panelSize);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    m_view = new QuickSwitcherView(this);
    layout->addWidget(m_view);
}

void QuickSwitcherPanel::placeOnPointerScreen()
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    // Without a screen the panel keeps its position.
    if (screen) {
        move(centredPanelPosition(size(), screen->availableGeometry()));
    }
}

void QuickSwitcherPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = palette().color(QPalette::Window);
    QColor outline = palette().color(QPalette::WindowText);
    outline.setAlphaF(0.2f);
    painter.setPen(QPen(outline, 1));
    if (m_translucent) {
        fill.setAlphaF(0.92f);
        painter.setBrush(fill);
        painter.drawRoundedRect(bounds, cornerRadius, cornerRadius);
    } else {
        painter.setBrush(fill);
        painter.drawRect(bounds);
    }
}

void QuickSwitcherPanel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) {
        return;
    }
    if (isActiveWindow()) {
        m_view->focusSearchField();
    } else if (isVisible() && !QApplication::activePopupWidget()) {
        Q_EMIT deactivated();
    }
}

} // namespace tessera
