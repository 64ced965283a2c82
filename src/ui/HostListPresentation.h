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

    // Header titles follow their column's alignment (on by default); off,
    // they stay left aligned, so a narrow column keeps the start of its title.
    void setAlignHeaders(bool align) { m_alignHeaders = align; }

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    int m_imageRole;
    QList<Qt::Alignment> m_alignments;
    bool m_alignHeaders = true;
};

} // namespace qm::ui
