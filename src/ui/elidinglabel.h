#pragma once

#include <QLabel>

namespace tessera {

// A one-line label that cuts its text short with "…" instead of wrapping or widening its
// window; text() stays the whole text, which the tooltip shows when it is cut.
class ElidingLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    void setText(const QString &text);
    QSize minimumSizeHint() const override;
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateToolTip();
};

} // namespace tessera
