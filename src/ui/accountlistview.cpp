#include "ui/accountlistview.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace tessera {

AccountListView::AccountListView(QWidget *parent)
    : QTreeView(parent)
{
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setIndentation(0);
    // Every row has the same height: the view then lays out thousands of rows without
    // asking each one for its size.
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setAnimated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void AccountListView::keyPressEvent(QKeyEvent *event)
{
    const QModelIndex current = currentIndex();
    switch (event->key()) {
    case Qt::Key_Up:
        if (!current.isValid() || !indexAbove(current).isValid()) {
            Q_EMIT leftAtTop();
            return;
        }
        break;
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        break;
    case Qt::Key_Right:
    case Qt::Key_Left:
        if (current.isValid()) {
            Q_EMIT foldRequested(current, event->key() == Qt::Key_Right);
        }
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (current.isValid()) {
            Q_EMIT activatedByKey(current);
        }
        return;
    case Qt::Key_Escape:
        Q_EMIT escapePressed();
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        event->ignore();
        return;
    default: {
        const QString text = event->text();
        if (!text.isEmpty() && text.at(0).isPrint()) {
            Q_EMIT textTyped(text);
            return;
        }
        event->ignore();
        return;
    }
    }
    QTreeView::keyPressEvent(event);
}

} // namespace tessera
