#include "ui/HostListPresentation.h"

#include "ui/HealthIcons.h"

namespace qm::ui {

HostListPresentation::HostListPresentation(int imageRole, QList<Qt::Alignment> alignments, QObject* parent)
    : QIdentityProxyModel(parent), m_imageRole(imageRole), m_alignments(std::move(alignments))
{
}

QVariant HostListPresentation::data(const QModelIndex& index, int role) const
{
    if (role == Qt::DecorationRole) {
        if (index.column() != 0)
            return {};
        return HealthIcons::icon(QIdentityProxyModel::data(index, m_imageRole).toInt());
    }
    if (role == Qt::ToolTipRole) {
        // The whole text of a cell too narrow for it.
        const QString text = QIdentityProxyModel::data(index, Qt::DisplayRole).toString();
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    if (role == Qt::TextAlignmentRole) {
        const int column = index.column();
        const Qt::Alignment horizontal = column < m_alignments.size() ? m_alignments[column] : Qt::AlignLeft;
        return static_cast<int>(horizontal | Qt::AlignVCenter);
    }
    return QIdentityProxyModel::data(index, role);
}

QVariant HostListPresentation::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::TextAlignmentRole && orientation == Qt::Horizontal && m_alignHeaders) {
        const Qt::Alignment horizontal = section < m_alignments.size() ? m_alignments[section] : Qt::AlignLeft;
        return static_cast<int>(horizontal | Qt::AlignVCenter);
    }
    return QIdentityProxyModel::headerData(section, orientation, role);
}

} // namespace qm::ui
