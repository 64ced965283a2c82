#pragma once

#include "store/HostColumns.h"

#include <QAbstractTableModel>
#include <QHash>

#include <cstdint>
#include <memory>
#include <vector>

namespace qm {

// Health levels are image indexes: 0 green … 11 red, 12 no result yet.
inline constexpr int kHealthNoResult = 12;
inline constexpr int kHealthStopping = 9;
inline constexpr int kHealthWorst = 11;

// The host list: one row per monitored entry, 27 text columns, a health level,
// the item data (the worker's thread identifier while monitoring runs) and a
// check box. It is the only in-memory store of the entries; views show it and
// the engine's handlers change it.
class HostListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Item data role: the row's 32-bit item data.
    static constexpr int ItemDataRole = Qt::UserRole + 1;
    // Health level role: image index 0..12.
    static constexpr int HealthRole = Qt::UserRole + 2;

    explicit HostListModel(QObject* parent = nullptr);
    ~HostListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int insertHost(int position, const HostTexts& texts, int image = kHealthNoResult, uint32_t itemData = 0);
    void removeHost(int row);
    void clear();

    const QString& text(int row, int column) const;
    void setText(int row, int column, const QString& value);
    const HostTexts& texts(int row) const;
    int image(int row) const;
    void setImage(int row, int image);
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);
    uint32_t itemData(int row) const;
    void setItemData(int row, uint32_t value);

    // The first row whose item data equals the value, or -1. Constant time
    // for a thread's identifier: an index follows the rows as they move.
    int findByItemData(uint32_t value) const;
    // Moves a row to the top keeping its texts, image, check box and item data.
    void moveToTop(int row);
    // Puts the rows in a new order: order[i] is the current row that becomes
    // row i. Views keep their selection and current index on the same hosts.
    // An order that is not a permutation of all rows is ignored.
    void reorder(const std::vector<int>& order);

    std::vector<HostTexts> allTexts() const;

private:
    struct Row
    {
        HostTexts texts;
        int image = kHealthNoResult;
        uint32_t itemData = 0;
        bool checked = false;
        int position = 0;
    };
    void renumber(int from, int to);
    void addToIndex(Row* row);
    void removeFromIndex(Row* row);
    void emitRowChanged(int row, int firstColumn, int lastColumn, const QList<int>& roles = {});

    std::vector<std::unique_ptr<Row>> m_rows;
    QMultiHash<uint32_t, Row*> m_byItemData;
};

} // namespace qm
