#pragma once

#include <QWidget>

class QTimer;

namespace tessera {

// A small spinning arc for work of unknown length. It turns only while shown and draws in
// the palette's text colour, so it follows a dark style.
class BusyIndicator : public QWidget
{
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    bool isSpinning() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *m_timer;
    int m_angle = 0;
};

} // namespace tessera
