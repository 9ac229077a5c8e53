#pragma once

#include "quicksearch/quickswitchermodel.h"

#include <QAbstractListModel>
#include <QPointer>
#include <map>

namespace tessera {

// The current Quick Search list as an item model. Rows are fetched from the switcher in
// windows as the view asks for them, so a ranking of ten thousand accounts costs one
// search and a screenful of rows per keystroke. Changes arriving together (a typed letter
// changes the query and then the selection) are applied once, on the next turn of the
// event loop; a selection move alone repaints two rows and recomputes nothing.
class QuickSwitcherListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        subtitleRole = Qt::UserRole + 1,
        trailingRole,
        tagRole,
        pinnedRole,
        chevronRole,
        selectedRole,
    };

    explicit QuickSwitcherListModel(QObject *parent = nullptr);

    void setSource(QuickSwitcherModel *source);
    QuickSwitcherModel *source() const { return m_source; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // The row as the switcher computed it; nullptr outside the list.
    const QuickSwitcherResultRow *rowAt(int row) const;
    int selectedRow() const { return m_selection; }

    // Applies pending changes now rather than on the next turn of the event loop.
    void refreshNow();

Q_SIGNALS:
    // The rows now match the switcher; `selection` is the selected row.
    void refreshed(int selection);

private:
    void contentChanged();
    void selectionChanged();
    void scheduleRefresh();

    static constexpr int chunkSize = 64;

    QPointer<QuickSwitcherModel> m_source;
    int m_count = 0;
    int m_selection = -1;
    mutable std::map<int, QList<QuickSwitcherResultRow>> m_chunks;
    bool m_contentDirty = false;
    bool m_selectionDirty = false;
    bool m_refreshQueued = false;
};

} // namespace tessera
