#pragma once

#include "engine/HostRowSorter.h"
#include "store/HostStore.h"

#include <QTreeView>

#include <array>
#include <vector>

namespace qm {
class HostListModel;
}

namespace qm::ui {

class HostListPresentation;

// The host list: the engine's rows in report form with check boxes, whole-row
// selection and movable columns. Eleven columns can be switched off (their
// widths are remembered to restore them), "Message" fills the rest of the
// width, and a click on a sortable header reorders the rows once.
class HostListView : public QTreeView
{
    Q_OBJECT

public:
    struct ColumnLayout
    {
        Qt::Alignment alignment;
        int defaultWidth; // 0: hidden; "Message" fills the rest instead
    };
    static const std::array<ColumnLayout, kHostColumnCount>& Layout();
    // Message keeps at least this width while it is shown.
    static constexpr int kMinMessageWidth = 40;

    explicit HostListView(HostListModel& model, QWidget* parent = nullptr);
    ~HostListView() override;

    // Shows the switchable columns that the preferences show, at their
    // default widths, and hides the others.
    void applyPreferences(const ColumnPreferences& prefs);
    ColumnPreferences preferences() const;
    bool isColumnShown(int column) const;
    // Hides a shown column (remembering its width) or shows a hidden one
    // again at its remembered width.
    void toggleColumn(int column);

    // Rows of the selection, top to bottom.
    std::vector<int> selectedRows() const;
    HostRowSorter& sorter() { return m_sorter; }

    // Column order and widths, to restore the next time.
    QByteArray saveHeaderState() const;
    void restoreHeaderState(const QByteArray& state);

    // "Message" gets the width the other columns leave.
    void fitMessageColumn();

Q_SIGNALS:
    void columnToggled(int column, bool shown);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void onHeaderClicked(int section);

    HostListModel& m_model;
    HostListPresentation* m_presentation;
    HostRowSorter m_sorter;
    std::array<int, kHostColumnCount> m_rememberedWidths{};
    bool m_fitting = false;
};

} // namespace qm::ui
