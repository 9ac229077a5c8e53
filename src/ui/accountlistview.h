#pragma once

#include <QTreeView>

namespace tessera {

// The tree view of the panel's account list. Folding belongs to the panel, so the view
// never folds or unfolds by itself: it reports the keys that ask for it.
class AccountListView : public QTreeView
{
    Q_OBJECT

public:
    explicit AccountListView(QWidget *parent = nullptr);

Q_SIGNALS:
    // Return, Enter or Space on the current row.
    void activatedByKey(const QModelIndex &index);
    // Right (unfold true) or Left (false) on the current row.
    void foldRequested(const QModelIndex &index, bool unfold);
    // Up on the first row.
    void leftAtTop();
    void escapePressed();
    // Text typed while the list had the focus; it belongs in the search field.
    void textTyped(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace tessera
