#include "ui/MessagePaneView.h"

#include "engine/MessagePaneModel.h"
#include "ui/HostListPresentation.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <QStyledItemDelegate>

#include <algorithm>

namespace qm::ui {

namespace {

// The time stamp keeps its time of day visible when the column is narrow.
class TimeStampDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideLeft;
    }
};

} // namespace

MessagePaneView::MessagePaneView(MessagePaneModel& model, QWidget* parent) : QTreeView(parent)
{
    setObjectName(QStringLiteral("messagePane"));
    auto* presentation = new HostListPresentation(MessagePaneModel::ImageRole,
                                                  {Qt::AlignLeft, Qt::AlignRight, Qt::AlignRight}, this);
    presentation->setAlignHeaders(false);
    presentation->setSourceModel(&model);
    setModel(presentation);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setItemDelegateForColumn(2, new TimeStampDelegate(this));
    header()->setSectionsMovable(true);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(1);
    layoutColumns();
}

void MessagePaneView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    layoutColumns();
}

void MessagePaneView::layoutColumns()
{
    header()->resizeSection(0, std::max(1, viewport()->width() - 2 * kFixedColumnWidth));
    header()->resizeSection(1, kFixedColumnWidth);
    header()->resizeSection(2, kFixedColumnWidth);
}

} // namespace qm::ui
