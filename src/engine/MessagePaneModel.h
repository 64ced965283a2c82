#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <deque>

namespace qm {

// The running log of results of checked rows, newest line first. Views lay
// it out; the status export reads it.
class MessagePaneModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int ImageRole = Qt::UserRole + 1; // 0 green, 11 red
    // Lines kept at the most; the oldest go first. Keeps a long unattended run
    // with many checked hosts from growing without bound.
    static constexpr int kMaxLines = 20000;

    struct Line
    {
        QString text;      // "%s//%s:%s %s"
        int image = 0;
        QString respTime;  // milliseconds, or "Error"
        QString timeStamp; // "%d %b %y %H:%M:%S"
    };

    explicit MessagePaneModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void addLine(Line line);
    void clear();
    const Line& line(int row) const { return m_lines[static_cast<std::size_t>(row)]; }

private:
    std::deque<Line> m_lines;
};

} // namespace qm
