#include "ui/HostListView.h"

#include "engine/HostListModel.h"
#include "ui/HostListPresentation.h"

#include <QHeaderView>
#include <QResizeEvent>

#include <algorithm>

namespace qm::ui {

namespace {

constexpr Qt::Alignment L = Qt::AlignLeft;
constexpr Qt::Alignment R = Qt::AlignRight;

int PreferenceIndex(int column)
{
    const auto& columns = kColumnPreferenceColumns;
    const auto it = std::find(columns.begin(), columns.end(), static_cast<HostColumn>(column));
    return it == columns.end() ? -1 : static_cast<int>(it - columns.begin());
}

// Whether the preferences show a column: "Host" always, the eleven switchable
// ones as set, the others never.
bool Shown(const ColumnPreferences& prefs, int column)
{
    const int pref = PreferenceIndex(column);
    return pref >= 0 ? prefs.shown[static_cast<std::size_t>(pref)] : column == ColHost;
}

} // namespace

const std::array<HostListView::ColumnLayout, kHostColumnCount>& HostListView::Layout()
{
    static const std::array<ColumnLayout, kHostColumnCount> layout{{
        {L, 130}, {R, 0},  {L, 70}, {L, 55}, {R, 35}, {L, 80}, {R, 50}, {R, 100}, {L, 0},
        {R, 40},  {R, 50}, {R, 70}, {R, 50}, {R, 0},  {R, 0},  {R, 0},  {R, 0},   {R, 0},
        {R, 0},   {R, 0},  {R, 0},  {R, 0},  {R, 0},  {R, 0},  {R, 0},  {R, 0},   {R, 0},
    }};
    return layout;
}

HostListView::HostListView(HostListModel& model, QWidget* parent)
    : QTreeView(parent), m_model(model)
{
    setObjectName(QStringLiteral("hostList"));
    QList<Qt::Alignment> alignments;
    for (const ColumnLayout& c : Layout())
        alignments.push_back(c.alignment);
    m_presentation = new HostListPresentation(HostListModel::HealthRole, alignments, this);
    m_presentation->setSourceModel(&model);
    setModel(m_presentation);

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    QHeaderView* h = header();
    h->setSectionsMovable(true);
    h->setSectionsClickable(true);
    h->setStretchLastSection(false);
    h->setMinimumSectionSize(1);
    h->setSortIndicatorShown(false);
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(h, &QHeaderView::sectionClicked, this, &HostListView::onHeaderClicked);
    connect(h, &QHeaderView::sectionResized, this, [this](int section, int, int) {
        if (section != ColMessage)
            fitMessageColumn();
    });

    for (int c = 0; c < kHostColumnCount; ++c)
        m_rememberedWidths[static_cast<std::size_t>(c)] = Layout()[static_cast<std::size_t>(c)].defaultWidth;
    applyPreferences(ColumnPreferences{});
}

HostListView::~HostListView() = default;

void HostListView::applyPreferences(const ColumnPreferences& prefs)
{
    QHeaderView* h = header();
    for (int c = 0; c < kHostColumnCount; ++c) {
        const int width = Layout()[static_cast<std::size_t>(c)].defaultWidth;
        if (c != ColMessage && width > 0)
            h->resizeSection(c, width);
        h->setSectionHidden(c, !Shown(prefs, c));
    }
    fitMessageColumn();
}

ColumnPreferences HostListView::preferences() const
{
    ColumnPreferences prefs;
    for (std::size_t i = 0; i < kColumnPreferenceColumns.size(); ++i)
        prefs.shown[i] = isColumnShown(kColumnPreferenceColumns[i]);
    return prefs;
}

bool HostListView::isColumnShown(int column) const
{
    return !header()->isSectionHidden(column);
}

void HostListView::toggleColumn(int column)
{
    if (PreferenceIndex(column) < 0)
        return;
    QHeaderView* h = header();
    auto& remembered = m_rememberedWidths[static_cast<std::size_t>(column)];
    const bool show = h->isSectionHidden(column);
    if (show) {
        h->setSectionHidden(column, false);
        if (column != ColMessage)
            h->resizeSection(column, std::max(remembered, 1));
    } else {
        remembered = h->sectionSize(column);
        h->setSectionHidden(column, true);
    }
    fitMessageColumn();
    Q_EMIT columnToggled(column, show);
}

std::vector<int> HostListView::selectedRows() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QByteArray HostListView::saveHeaderState() const
{
    return header()->saveState();
}

void HostListView::restoreHeaderState(const QByteArray& state)
{
    // Order and widths come back; which columns show is the preferences' call.
    const ColumnPreferences prefs = preferences();
    if (!state.isEmpty() && header()->restoreState(state)) {
        for (int c = 0; c < kHostColumnCount; ++c)
            if (!header()->isSectionHidden(c) && header()->sectionSize(c) > 0)
                m_rememberedWidths[static_cast<std::size_t>(c)] = header()->sectionSize(c);
    }
    for (int c = 0; c < kHostColumnCount; ++c)
        header()->setSectionHidden(c, !Shown(prefs, c));
    fitMessageColumn();
}

void HostListView::fitMessageColumn()
{
    if (m_fitting || header()->isSectionHidden(ColMessage))
        return;
    int others = 0;
    for (int c = 0; c <= ColPassword; ++c)
        if (c != ColMessage)
            others += header()->sectionSize(c); // 0 for a hidden column
    const int width = std::max(kMinMessageWidth, viewport()->width() - others);
    m_fitting = true;
    header()->resizeSection(ColMessage, width);
    m_fitting = false;
}

void HostListView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    fitMessageColumn();
}

void HostListView::onHeaderClicked(int section)
{
    if (!HostRowSorter::isSortable(section))
        return;
    m_sorter.sortOnce(m_model, section);
}

} // namespace qm::ui
