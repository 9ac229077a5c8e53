#include "ui/quickswitcherlistmodel.h"

namespace tessera {

QuickSwitcherListModel::QuickSwitcherListModel(QObject *parent)
    : QAbstractListModel(parent)
{}

void QuickSwitcherListModel::setSource(QuickSwitcherModel *source)
{
    if (m_source) {
        disconnect(m_source, nullptr, this, nullptr);
        disconnect(&m_source->store(), nullptr, this, nullptr);
    }
    m_source = source;
    if (source) {
        // Everything the lists are computed from, except the selection.
        for (auto signal :
             {&QuickSwitcherModel::queryChanged, &QuickSwitcherModel::modeChanged,
              &QuickSwitcherModel::choosingRegionChanged,
              &QuickSwitcherModel::choosingActionChanged, &QuickSwitcherModel::choosingGroupChanged,
              &QuickSwitcherModel::choosingAWSProfileChanged}) {
            connect(source, signal, this, &QuickSwitcherListModel::contentChanged);
        }
        connect(&source->store(), &AccountStore::accountsChanged, this,
                &QuickSwitcherListModel::contentChanged);
        connect(&source->store(), &AccountStore::organizationChanged, this,
                &QuickSwitcherListModel::contentChanged);
        connect(source, &QuickSwitcherModel::selectionChanged, this,
                &QuickSwitcherListModel::selectionChanged);
    }
    m_contentDirty = true;
    refreshNow();
}

int QuickSwitcherListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

const QuickSwitcherResultRow *QuickSwitcherListModel::rowAt(int row) const
{
    if (row < 0 || row >= m_count || !m_source) {
        return nullptr;
    }
    const int chunk = row / chunkSize;
    auto found = m_chunks.find(chunk);
    if (found == m_chunks.end()) {
        found = m_chunks.emplace(chunk, m_source->rows(chunk * chunkSize, chunkSize)).first;
    }
    const int offset = row - chunk * chunkSize;
    return offset < found->second.size() ? &found->second.at(offset) : nullptr;
}

QVariant QuickSwitcherListModel::data(const QModelIndex &index, int role) const
{
    const QuickSwitcherResultRow *row = rowAt(index.row());
    if (!row) {
        return {};
    }
    const auto optional = [](const std::optional<QString> &text) {
        return text ? QVariant(*text) : QVariant();
    };
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row->title;
    case subtitleRole:
        return optional(row->subtitle);
    case trailingRole:
        return optional(row->trailing);
    case tagRole:
        return optional(row->tag);
    case pinnedRole:
        return row->pinned;
    case chevronRole:
        return row->showChevron;
    case selectedRole:
        return index.row() == m_selection;
    default:
        return {};
    }
}

void QuickSwitcherListModel::contentChanged()
{
    m_contentDirty = true;
    scheduleRefresh();
}

void QuickSwitcherListModel::selectionChanged()
{
    m_selectionDirty = true;
    scheduleRefresh();
}

void QuickSwitcherListModel::scheduleRefresh()
{
    if (m_refreshQueued) {
        return;
    }
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &QuickSwitcherListModel::refreshNow, Qt::QueuedConnection);
}

void QuickSwitcherListModel::refreshNow()
{
    m_refreshQueued = false;
    const int selection = m_source ? m_source->selection() : -1;
    if (m_contentDirty) {
        m_contentDirty = false;
        m_selectionDirty = false;
        beginResetModel();
        m_chunks.clear();
        if (m_source) {
            QuickSwitcherRowWindow first = m_source->rowWindow(0, chunkSize);
            m_count = first.total;
            m_chunks.emplace(0, std::move(first.rows));
        } else {
            m_count = 0;
        }
        m_selection = selection;
        endResetModel();
    } else if (m_selectionDirty) {
        m_selectionDirty = false;
        const int previous = m_selection;
        m_selection = selection;
        for (int row : {previous, selection}) {
            if (row >= 0 && row < m_count) {
                Q_EMIT dataChanged(index(row), index(row), {selectedRole});
            }
        }
    } else {
        return;
    }
    Q_EMIT refreshed(m_selection);
}

} // namespace tessera
