#include "ui/busyindicator.h"

#include <QPainter>
#include <QTimer>

namespace tessera {

namespace {
constexpr auto frameInterval = std::chrono::milliseconds(40);
constexpr int degreesPerFrame = 12;
} // namespace

BusyIndicator::BusyIndicator(QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setAccessibleName(qtTrId("Syncing"));
    m_timer->setInterval(frameInterval);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + degreesPerFrame) % 360;
        update();
    });
}

QSize BusyIndicator::sizeHint() const
{
    const int side = fontMetrics().height();
    return {side, side};
}

bool BusyIndicator::isSpinning() const
{
    return m_timer->isActive();
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height());
    const qreal penWidth = qMax(1.5, side / 8.0);
    QPen pen(palette().color(QPalette::WindowText), penWidth, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    const QRectF arc = QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side)
                           .adjusted(penWidth, penWidth, -penWidth, -penWidth);
    // Qt counts arcs in sixteenths of a degree.
    painter.drawArc(arc, -m_angle * 16, 270 * 16);
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    m_timer->start();
    QWidget::showEvent(event);
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}

} // namespace tessera
