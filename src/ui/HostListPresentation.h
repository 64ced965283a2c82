#pragma once

#include <QIdentityProxyModel>

namespace qm::ui {

// What a view adds to the engine's rows and message lines: the health image
// as decoration of the first column and each column's alignment.
class HostListPresentation final : public QIdentityProxyModel
{
    Q_OBJECT

public:
    // imageRole: the source role holding the image index; alignments: one per
    // column (missing ones are left aligned).
    HostListPresentation(int imageRole, QList<Qt::Alignment> alignments, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    int m_imageRole;
    QList<Qt::Alignment> m_alignments;
};

} // namespace qm::ui
