#pragma once

#include <QStyledItemDelegate>

namespace tessera {

// Paints one Quick Search row (title, subtitle, tag, trailing text, pin and chevron) from
// the list model's roles; no widget per row, so long lists stay cheap.
class QuickSwitcherRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int rowHeight = 44;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace tessera
