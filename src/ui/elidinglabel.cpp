#include "ui/elidinglabel.h"

#include <QPainter>
#include <QStyle>

namespace tessera {

void ElidingLabel::setText(const QString &text)
{
    QLabel::setText(text);
    updateToolTip();
}

void ElidingLabel::updateToolTip()
{
    setToolTip(shownText() == text() ? QString() : text());
}

QSize ElidingLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

QString ElidingLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void ElidingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(),
                          shownText(), foregroundRole());
}

void ElidingLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateToolTip();
}

} // namespace tessera
