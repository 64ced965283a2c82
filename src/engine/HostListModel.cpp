#include "engine/HostListModel.h"

#include <algorithm>

namespace qm {

HostListModel::HostListModel(QObject* parent) : QAbstractTableModel(parent) {}

HostListModel::~HostListModel() = default;

int HostListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int HostListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kHostColumnCount;
}

QVariant HostListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& row = *m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return row.texts[static_cast<std::size_t>(index.column())];
    case Qt::CheckStateRole:
        return index.column() == 0 ? QVariant(row.checked ? Qt::Checked : Qt::Unchecked) : QVariant();
    case HealthRole: return row.image;
    case ItemDataRole: return row.itemData;
    default: return {};
    }
}

bool HostListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= rowCount())
        return false;
    if (role == Qt::CheckStateRole && index.column() == 0) {
        setChecked(index.row(), value.toInt() == Qt::Checked);
        return true;
    }
    return false;
}

QVariant HostListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kHostColumnCount)
        return {};
    return ColumnTitle(section);
}

Qt::ItemFlags HostListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

int HostListModel::insertHost(int position, const HostTexts& texts, int image, uint32_t itemData)
{
    position = std::clamp(position, 0, rowCount());
    beginInsertRows({}, position, position);
    auto row = std::make_unique<Row>();
    row->texts = texts;
    row->image = image;
    row->itemData = itemData;
    Row* raw = row.get();
    m_rows.insert(m_rows.begin() + position, std::move(row));
    renumber(position, rowCount());
    addToIndex(raw);
    endInsertRows();
    return position;
}

void HostListModel::removeHost(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    removeFromIndex(m_rows[static_cast<std::size_t>(row)].get());
    m_rows.erase(m_rows.begin() + row);
    renumber(row, rowCount());
    endRemoveRows();
}

void HostListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_byItemData.clear();
    endResetModel();
}

const QString& HostListModel::text(int row, int column) const
{
    return m_rows[static_cast<std::size_t>(row)]->texts[static_cast<std::size_t>(column)];
}

void HostListModel::setText(int row, int column, const QString& value)
{
    QString& cell = m_rows[static_cast<std::size_t>(row)]->texts[static_cast<std::size_t>(column)];
    if (cell == value)
        return;
    cell = value;
    emitRowChanged(row, column, column, {Qt::DisplayRole, Qt::EditRole});
}

const HostTexts& HostListModel::texts(int row) const
{
    return m_rows[static_cast<std::size_t>(row)]->texts;
}

int HostListModel::image(int row) const
{
    return m_rows[static_cast<std::size_t>(row)]->image;
}

void HostListModel::setImage(int row, int image)
{
    Row& r = *m_rows[static_cast<std::size_t>(row)];
    if (r.image == image)
        return;
    r.image = image;
    emitRowChanged(row, 0, 0, {HealthRole, Qt::DecorationRole});
}

bool HostListModel::isChecked(int row) const
{
    return m_rows[static_cast<std::size_t>(row)]->checked;
}

void HostListModel::setChecked(int row, bool checked)
{
    Row& r = *m_rows[static_cast<std::size_t>(row)];
    if (r.checked == checked)
        return;
    r.checked = checked;
    emitRowChanged(row, 0, 0, {Qt::CheckStateRole});
}

uint32_t HostListModel::itemData(int row) const
{
    return m_rows[static_cast<std::size_t>(row)]->itemData;
}

void HostListModel::setItemData(int row, uint32_t value)
{
    Row* r = m_rows[static_cast<std::size_t>(row)].get();
    if (r->itemData == value)
        return;
    removeFromIndex(r);
    r->itemData = value;
    addToIndex(r);
    emitRowChanged(row, 0, 0, {ItemDataRole});
}

// Rows without a thread (item data 0) stay out of the index: at Start
// thousands of them share that key, and taking each out of one long chain
// would cost the whole chain.
void HostListModel::addToIndex(Row* row)
{
    if (row->itemData != 0)
        m_byItemData.insert(row->itemData, row);
}

void HostListModel::removeFromIndex(Row* row)
{
    if (row->itemData != 0)
        m_byItemData.remove(row->itemData, row);
}

int HostListModel::findByItemData(uint32_t value) const
{
    if (value == 0) {
        const auto it = std::find_if(m_rows.cbegin(), m_rows.cend(), [](const auto& r) { return r->itemData == 0; });
        return it == m_rows.cend() ? -1 : static_cast<int>(it - m_rows.cbegin());
    }
    int best = -1;
    for (auto it = m_byItemData.constFind(value); it != m_byItemData.cend() && it.key() == value; ++it)
        if (best < 0 || (*it)->position < best)
            best = (*it)->position;
    return best;
}

void HostListModel::moveToTop(int row)
{
    if (row <= 0 || row >= rowCount())
        return;
    beginMoveRows({}, row, row, {}, 0);
    auto moving = std::move(m_rows[static_cast<std::size_t>(row)]);
    m_rows.erase(m_rows.begin() + row);
    m_rows.insert(m_rows.begin(), std::move(moving));
    renumber(0, row + 1);
    endMoveRows();
}

void HostListModel::reorder(const std::vector<int>& order)
{
    const std::size_t count = m_rows.size();
    if (order.size() != count)
        return;
    std::vector<int> newRow(count, -1);
    for (std::size_t i = 0; i < count; ++i) {
        const int old = order[i];
        if (old < 0 || static_cast<std::size_t>(old) >= count || newRow[static_cast<std::size_t>(old)] >= 0)
            return;
        newRow[static_cast<std::size_t>(old)] = static_cast<int>(i);
    }

    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::unique_ptr<Row>> rows(count);
    for (std::size_t i = 0; i < count; ++i)
        rows[i] = std::move(m_rows[static_cast<std::size_t>(order[i])]);
    m_rows = std::move(rows);
    renumber(0, rowCount());

    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from)
        to.push_back(index(newRow[static_cast<std::size_t>(old.row())], old.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::vector<HostTexts> HostListModel::allTexts() const
{
    std::vector<HostTexts> out;
    out.reserve(m_rows.size());
    for (const auto& r : m_rows)
        out.push_back(r->texts);
    return out;
}

void HostListModel::renumber(int from, int to)
{
    for (int i = from; i < to; ++i)
        m_rows[static_cast<std::size_t>(i)]->position = i;
}

void HostListModel::emitRowChanged(int row, int firstColumn, int lastColumn, const QList<int>& roles)
{
    Q_EMIT dataChanged(index(row, firstColumn), index(row, lastColumn), roles);
}

} // namespace qm
