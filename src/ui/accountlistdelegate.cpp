#include "ui/accountlistdelegate.h"

#include "ui/accountlistmodel.h"
#include "ui/icons.h"

#include <QPainter>
#include <QTreeView>

namespace tessera {

namespace {
constexpr int margin = 6;
constexpr int levelIndent = 14;
constexpr int chevronSize = 10;
constexpr int iconSize = 14;
constexpr int pinSize = 12;
constexpr int gap = 6;

int level(const QModelIndex &index)
{
    int depth = 0;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) {
        ++depth;
    }
    return depth;
}

QRect square(int x, const QRect &row, int size)
{
    return QRect(x, row.top() + (row.height() - size) / 2, size, size);
}
} // namespace

AccountListDelegate::AccountListDelegate(QTreeView *view)
    : QStyledItemDelegate(view)
    , m_view(view)
    , m_folded(symbolIcon(Symbol::folded))
    , m_unfolded(symbolIcon(Symbol::unfolded))
    , m_pin(symbolIcon(Symbol::pin))
    , m_openConsole(symbolIcon(Symbol::openConsole))
{}

QSize AccountListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width(), std::max(option.fontMetrics.height() + 10, 24));
}

void AccountListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    using Kind = AccountListModel::Kind;
    const auto kind = Kind(index.data(AccountListModel::KindRole).toInt());
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QPalette::ColorGroup group =
        option.state.testFlag(QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    painter->save();
    if (selected) {
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    } else if (option.state.testFlag(QStyle::State_MouseOver) && kind != Kind::emptyGroupHint &&
               kind != Kind::noRoles) {
        QColor hover = option.palette.color(group, QPalette::Highlight);
        hover.setAlphaF(0.15f);
        painter->fillRect(option.rect, hover);
    }
    const QColor text =
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor secondary = selected ? text : option.palette.color(group, QPalette::PlaceholderText);
    if (selected) {
        secondary.setAlphaF(0.75f);
    }
    const QIcon::Mode iconMode = selected ? QIcon::Selected : QIcon::Normal;

    const QRect row = option.rect;
    int x = row.left() + margin + level(index) * levelIndent;
    const int right = row.right() - margin;
    const QString title = index.data(Qt::DisplayRole).toString();
    constexpr int textFlags = Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine;

    switch (kind) {
    case Kind::section: {
        const bool open = m_view->isExpanded(index);
        (open ? m_unfolded : m_folded)
            .paint(painter, square(x, row, chevronSize), Qt::AlignCenter, iconMode);
        x += chevronSize + gap;
        QFont bold = option.font;
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 0.9);
        painter->setFont(bold);
        const QFontMetrics metrics(bold);
        const QString count = QString::number(index.data(AccountListModel::CountRole).toLongLong());
        const int countWidth = metrics.horizontalAdvance(count);
        const QString shown =
            metrics.elidedText(title, Qt::ElideRight, right - x - countWidth - gap * 2);
        painter->setPen(text);
        painter->drawText(QRect(x, row.top(), right - x, row.height()), textFlags, shown);
        x += metrics.horizontalAdvance(shown) + gap * 2;
        painter->setPen(secondary);
        painter->drawText(QRect(x, row.top(), right - x, row.height()), textFlags, count);
        break;
    }
    case Kind::account: {
        const bool open = m_view->isExpanded(index);
        (open ? m_unfolded : m_folded)
            .paint(painter, square(x, row, chevronSize), Qt::AlignCenter, iconMode);
        x += chevronSize + gap;
        painter->setFont(option.font);
        const QFontMetrics &metrics = option.fontMetrics;
        const QString id = index.data(AccountListModel::AccountIdRole).toString();
        const int idWidth = metrics.horizontalAdvance(id);
        const bool pinned = index.data(AccountListModel::PinnedRole).toBool();
        const int reserved = idWidth + gap + (pinned ? pinSize + gap : 0);
        const QString shown = metrics.elidedText(title, Qt::ElideRight, right - x - reserved);
        painter->setPen(text);
        painter->drawText(QRect(x, row.top(), right - x, row.height()), textFlags, shown);
        if (pinned) {
            m_pin.paint(painter, square(x + metrics.horizontalAdvance(shown) + gap, row, pinSize),
                        Qt::AlignCenter, iconMode);
        }
        painter->setPen(secondary);
        painter->drawText(QRect(right - idWidth, row.top(), idWidth, row.height()), textFlags, id);
        break;
    }
    case Kind::role:
        m_openConsole.paint(painter, square(x, row, iconSize), Qt::AlignCenter, iconMode);
        x += iconSize + gap;
        painter->setFont(option.font);
        painter->setPen(text);
        painter->drawText(QRect(x, row.top(), right - x, row.height()), textFlags,
                          option.fontMetrics.elidedText(title, Qt::ElideRight, right - x));
        break;
    case Kind::emptyGroupHint:
    case Kind::noRoles:
        painter->setFont(option.font);
        painter->setPen(secondary);
        painter->drawText(QRect(x, row.top(), right - x, row.height()), textFlags,
                          option.fontMetrics.elidedText(title, Qt::ElideRight, right - x));
        break;
    }
    if (option.state.testFlag(QStyle::State_HasFocus) && m_view->hasFocus()) {
        QPen focus(option.palette.color(group, QPalette::Highlight));
        focus.setWidth(1);
        painter->setPen(focus);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(row.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

} // namespace tessera
