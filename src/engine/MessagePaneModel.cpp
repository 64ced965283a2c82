#include "engine/MessagePaneModel.h"

namespace qm {

MessagePaneModel::MessagePaneModel(QObject* parent) : QAbstractTableModel(parent) {}

int MessagePaneModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

int MessagePaneModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant MessagePaneModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Line& l = line(index.row());
    if (role == ImageRole)
        return l.image;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case 0: return l.text;
    case 1: return l.respTime;
    case 2: return l.timeStamp;
    default: return {};
    }
}

QVariant MessagePaneModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0: return QStringLiteral("Message");
    case 1: return QStringLiteral("Resp Time");
    case 2: return QStringLiteral("Time Stamp");
    default: return {};
    }
}

void MessagePaneModel::addLine(Line line)
{
    if (rowCount() >= kMaxLines) {
        beginRemoveRows({}, kMaxLines - 1, rowCount() - 1);
        m_lines.resize(kMaxLines - 1);
        endRemoveRows();
    }
    beginInsertRows({}, 0, 0);
    m_lines.push_front(std::move(line));
    endInsertRows();
}

void MessagePaneModel::clear()
{
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

} // namespace qm
