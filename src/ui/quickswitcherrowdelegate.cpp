#include "ui/quickswitcherrowdelegate.h"

#include "ui/icons.h"
#include "ui/quickswitcherlistmodel.h"

#include <QPainter>
#include <QPainterPath>

namespace tessera {

namespace {
constexpr int margin = 8;
constexpr int padding = 10;
constexpr int iconSize = 14;
} // namespace

QSize QuickSwitcherRowDelegate::sizeHint(const QStyleOptionViewItem &option,
                                         const QModelIndex &) const
{
    return {option.rect.width(), rowHeight};
}

void QuickSwitcherRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                     const QModelIndex &index) const
{
    using Roles = QuickSwitcherListModel;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette &palette = option.palette;
    const bool selected = index.data(Roles::selectedRole).toBool();
    QRect area = option.rect.adjusted(margin, 2, -margin, -2);
    if (selected) {
        QPainterPath path;
        path.addRoundedRect(area, 6, 6);
        painter->fillPath(path, palette.color(QPalette::Highlight));
    }
    const QColor primary =
        palette.color(selected ? QPalette::HighlightedText : QPalette::WindowText);
    QColor secondary = primary;
    secondary.setAlphaF(0.6f);

    QRect content = area.adjusted(padding, 0, -padding, 0);
    if (index.data(Roles::chevronRole).toBool()) {
        const QRect chevron(content.right() - iconSize + 1, content.center().y() - iconSize / 2,
                            iconSize, iconSize);
        symbolIcon(Symbol::folded).paint(painter, chevron);
        content.setRight(chevron.left() - 6);
    }

    QFont font = option.font;
    const QFontMetrics metrics(font);
    const QString trailing = index.data(Roles::trailingRole).toString();
    if (!trailing.isEmpty()) {
        const int width = std::min(metrics.horizontalAdvance(trailing), content.width() / 3);
        const QRect box(content.right() - width + 1, content.top(), width, content.height());
        painter->setPen(secondary);
        painter->drawText(box, Qt::AlignRight | Qt::AlignVCenter,
                          metrics.elidedText(trailing, Qt::ElideRight, width));
        content.setRight(box.left() - 8);
    }
    const QString tag = index.data(Roles::tagRole).toString();
    if (!tag.isEmpty()) {
        const int width = std::min(metrics.horizontalAdvance(tag) + 12, content.width() / 4);
        const QRect chip(content.right() - width + 1,
                         content.center().y() - metrics.height() / 2 - 1, width,
                         metrics.height() + 2);
        QColor fill = primary;
        fill.setAlphaF(0.12f);
        QPainterPath path;
        path.addRoundedRect(chip, 4, 4);
        painter->fillPath(path, fill);
        painter->setPen(secondary);
        painter->drawText(chip, Qt::AlignCenter,
                          metrics.elidedText(tag, Qt::ElideRight, width - 8));
        content.setRight(chip.left() - 8);
    }
    if (index.data(Roles::pinnedRole).toBool()) {
        const QRect pin(content.left(), content.center().y() - iconSize / 2, iconSize, iconSize);
        symbolIcon(Symbol::pin).paint(painter, pin);
        content.setLeft(pin.right() + 6);
    }

    const QString title = index.data(Qt::DisplayRole).toString();
    const QString subtitle = index.data(Roles::subtitleRole).toString();
    QFont titleFont = font;
    titleFont.setWeight(QFont::DemiBold);
    painter->setFont(titleFont);
    painter->setPen(primary);
    const QFontMetrics titleMetrics(titleFont);
    if (subtitle.isEmpty()) {
        painter->drawText(content, Qt::AlignLeft | Qt::AlignVCenter,
                          titleMetrics.elidedText(title, Qt::ElideRight, content.width()));
    } else {
        const QRect upper(content.left(), content.top(), content.width(), content.height() / 2);
        const QRect lower(content.left(), upper.bottom() + 1, content.width(),
                          content.height() - upper.height());
        painter->drawText(upper, Qt::AlignLeft | Qt::AlignBottom,
                          titleMetrics.elidedText(title, Qt::ElideRight, content.width()));
        QFont small = font;
        small.setPointSizeF(font.pointSizeF() * 0.9);
        painter->setFont(small);
        painter->setPen(secondary);
        painter->drawText(
            lower, Qt::AlignLeft | Qt::AlignTop,
            QFontMetrics(small).elidedText(subtitle, Qt::ElideRight, content.width()));
    }
    painter->restore();
}

} // namespace tessera
