#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

class QTreeView;

namespace tessera {

// Paints the rows of the panel's account list: a section header with its chevron, title
// and count; an account with its chevron, name, pin mark and id; a role with the console
// symbol. Text is painted as it stands, so an "&" in a name is an ampersand.
class AccountListDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit AccountListDelegate(QTreeView *view);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QTreeView *m_view;
    QIcon m_folded;
    QIcon m_unfolded;
    QIcon m_pin;
    QIcon m_openConsole;
};

} // namespace tessera
