#include "ui/LogViewerDialog.h"

#include "ui/HealthIcons.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <iterator>
#include <utility>

namespace qm::ui {

namespace {

using Row = LogViewQueries::Row;

// What one slice of reading may take of an event-loop turn, and how many
// rows of an earlier query a turn frees.
constexpr auto kSlice = std::chrono::milliseconds(8);
constexpr std::size_t kFreeRows = 20000;

struct Column
{
    const char* title;
    int width;
    Qt::Alignment alignment;
};
constexpr std::array<Column, 4> kColumns{{
    {"Message", 345, Qt::AlignLeft | Qt::AlignVCenter},
    {"Response", 75, Qt::AlignRight | Qt::AlignVCenter},
    {"Failure", 45, Qt::AlignRight | Qt::AlignVCenter},
    {"Date Stamp", 110, Qt::AlignRight | Qt::AlignVCenter},
}};

// Inserts the text at its place in case-insensitive text order.
void AddSorted(QComboBox* combo, const QString& text)
{
    int low = 0, high = combo->count();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (QString::compare(combo->itemText(mid), text, Qt::CaseInsensitive) <= 0)
            low = mid + 1;
        else
            high = mid;
    }
    combo->insertItem(low, text);
}

// Draws a row as selected when the model says so (see ResultModel).
class SelectionDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state.setFlag(QStyle::State_Selected,
                              index.data(LogViewerDialog::kSelectedRole).toBool());
    }
};

} // namespace

// The rows of the result list. Which rows are selected is kept here, one flag
// a row, rather than in a QItemSelectionModel: the rows come in with every
// even one selected, which that class holds as one range per selected row,
// and its operations slow down with the number of ranges (some quadratically).
class LogViewerDialog::ResultModel final : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(kColumns.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const Row& row = m_rows[static_cast<std::size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole: {
            const std::array<const QString*, 4> texts{&row.message, &row.response, &row.failure,
                                                      &row.dateStamp};
            return *texts[static_cast<std::size_t>(index.column())];
        }
        case Qt::DecorationRole:
            if (index.column() == 0)
                return m_images[row.image == 1 ? 1 : 0];
            return {};
        case Qt::TextAlignmentRole:
            return kColumns[static_cast<std::size_t>(index.column())].alignment.toInt();
        case kSelectedRole:
            return row.selected;
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
            return {};
        const Column& column = kColumns[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(column.title);
        if (role == Qt::TextAlignmentRole)
            return column.alignment.toInt();
        return {};
    }

    void append(std::vector<Row> rows)
    {
        if (rows.empty())
            return;
        const int first = rowCount();
        beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
        std::move(rows.begin(), rows.end(), std::back_inserter(m_rows));
        endInsertRows();
    }

    // The rows go at once; their memory is given back by freeSome, a part
    // at a time, as freeing a few hundred thousand texts holds up the thread.
    void clear()
    {
        beginResetModel();
        if (!m_rows.empty())
            m_discarded.push_back(std::exchange(m_rows, {}));
        m_pending.clear();
        endResetModel();
    }
    // Frees up to `count` rows of earlier queries; true while some are left.
    bool freeSome(std::size_t count)
    {
        for (; count > 0 && !m_discarded.empty(); --count) {
            m_discarded.back().pop_back();
            if (m_discarded.back().empty())
                m_discarded.pop_back();
        }
        return !m_discarded.empty();
    }

    void sortByTime()
    {
        beginResetModel();
        std::vector<Row> rows(std::make_move_iterator(m_rows.begin()),
                              std::make_move_iterator(m_rows.end()));
        LogViewQueries::SortByTime(rows);
        m_rows.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
        m_pending.clear();
        endResetModel();
    }

    // Carries out a selection command of the view. A command with Current
    // replaces what the previous such command selected (a drag or a
    // shift-click growing a range), as QItemSelectionModel does.
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command)
    {
        if (command == QItemSelectionModel::NoUpdate)
            return;
        int low = rowCount(), high = -1;
        const auto set = [&](int row, bool on, bool remember) {
            bool& flag = m_rows[static_cast<std::size_t>(row)].selected;
            if (flag == on)
                return;
            if (remember)
                m_pending.emplace_back(row, flag);
            flag = on;
            low = std::min(low, row);
            high = std::max(high, row);
        };
        if (command & QItemSelectionModel::Current) {
            for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it)
                set(it->first, it->second, false);
        }
        m_pending.clear();
        if (command & QItemSelectionModel::Clear) {
            for (int row = 0; row < rowCount(); ++row)
                set(row, false, false);
        }
        const bool remember = command & QItemSelectionModel::Current;
        for (const QItemSelectionRange& range : selection) {
            if (!range.isValid() || range.model() != this)
                continue;
            for (int row = range.top(); row <= range.bottom(); ++row) {
                const bool now = m_rows[static_cast<std::size_t>(row)].selected;
                if (command & QItemSelectionModel::Select)
                    set(row, true, remember);
                else if (command & QItemSelectionModel::Deselect)
                    set(row, false, remember);
                else if (command & QItemSelectionModel::Toggle)
                    set(row, !now, remember);
            }
        }
        if (low <= high)
            Q_EMIT dataChanged(index(low, 0), index(high, columnCount() - 1), {kSelectedRole});
    }

private:
    // A deque grows without moving the rows it holds.
    std::deque<Row> m_rows;
    std::vector<std::pair<int, bool>> m_pending; // rows the last Current command changed
    std::vector<std::deque<Row>> m_discarded;
    const std::array<QIcon, 2> m_images{HealthIcons::icon(HealthIcons::kGreen),
                                        HealthIcons::icon(HealthIcons::kRed)};
};

// Passes the view's selection commands to the model; the ranges of the base
// class stay empty.
class LogViewerDialog::RowSelection final : public QItemSelectionModel
{
public:
    RowSelection(ResultModel* model, QObject* parent)
        : QItemSelectionModel(model, parent), m_model(model)
    {
    }

    void select(const QModelIndex& index, SelectionFlags command) override
    {
        select(QItemSelection(index, index), command);
    }
    void select(const QItemSelection& selection, SelectionFlags command) override
    {
        m_model->select(selection, command);
    }

private:
    ResultModel* m_model;
};

LogViewerDialog::LogViewerDialog(QSqlDatabase db, OperatorPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_hostReader(db, prompt), m_serviceReader(db, prompt)
{
    setObjectName(QStringLiteral("LogViewerDialog"));
    setWindowTitle(QStringLiteral("View Logs"));
    resize(640, 340);

    const auto combo = [this](const char* name) {
        auto* box = new QComboBox(this);
        box->setObjectName(QLatin1String(name));
        return box;
    };
    m_hostCombo = combo("hostCombo");
    m_protocolCombo = combo("protocolCombo");
    m_portCombo = combo("portCombo");
    m_portCombo->setEditable(true);
    m_portCombo->setInsertPolicy(QComboBox::NoInsert);
    for (const QString& protocol : LogViewQueries::ProtocolChoices())
        AddSorted(m_protocolCombo, protocol);
    for (const QString& port : LogViewQueries::PortChoices())
        AddSorted(m_portCombo, port);
    m_portCombo->setCurrentIndex(-1);
    m_protocolCombo->setCurrentIndex(1);

    auto* selections = new QGridLayout;
    const std::array<std::pair<const char*, QComboBox*>, 3> labelled{
        {{"HOST:", m_hostCombo}, {"PROTOCOL:", m_protocolCombo}, {"PORT:", m_portCombo}}};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(QString::fromLatin1(labelled[i].first), this);
        label->setBuddy(labelled[i].second);
        selections->addWidget(label, 0, 2 * i);
        selections->addWidget(labelled[i].second, 0, 2 * i + 1);
        selections->setColumnStretch(2 * i + 1, 1);
    }

    m_model = new ResultModel(this);
    m_resultList = new QTableView(this);
    m_resultList->setObjectName(QStringLiteral("resultList"));
    m_resultList->setShowGrid(false);
    m_resultList->setWordWrap(false);
    m_resultList->verticalHeader()->hide();
    m_resultList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_resultList->verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height(), 16) + 4);
    m_resultList->horizontalHeader()->setHighlightSections(false);
    m_resultList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_resultList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_resultList->setItemDelegate(new SelectionDelegate(m_resultList));
    m_resultList->setModel(m_model);
    QItemSelectionModel* standard = m_resultList->selectionModel();
    m_resultList->setSelectionModel(new RowSelection(m_model, m_resultList));
    delete standard;
    m_resultList->horizontalHeader()->setStretchLastSection(false);
    for (std::size_t i = 0; i < kColumns.size(); ++i)
        m_resultList->horizontalHeader()->resizeSection(static_cast<int>(i), kColumns[i].width);

    const auto summary = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setReadOnly(true);
        return edit;
    };
    m_averageEdit = summary("averageEdit");
    m_pollsEdit = summary("pollsEdit");
    auto* averageLabel = new QLabel(QStringLiteral("Average Response Time:"), this);
    averageLabel->setBuddy(m_averageEdit);
    auto* pollsLabel = new QLabel(QStringLiteral("# Polls"), this);
    pollsLabel->setBuddy(m_pollsEdit);

    m_loading = new QWidget(this);
    m_loading->setObjectName(QStringLiteral("loadingIndicator"));
    auto* loadingLayout = new QHBoxLayout(m_loading);
    loadingLayout->setContentsMargins(0, 0, 0, 0);
    loadingLayout->addWidget(new QLabel(QStringLiteral("Loading..."), m_loading));
    auto* busy = new QProgressBar(m_loading);
    busy->setRange(0, 0);
    busy->setMaximumWidth(80);
    loadingLayout->addWidget(busy);
    m_loading->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(averageLabel);
    bottom->addWidget(m_averageEdit);
    bottom->addWidget(pollsLabel);
    bottom->addWidget(m_pollsEdit);
    bottom->addWidget(m_loading);
    bottom->addStretch();
    bottom->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(selections);
    layout->addWidget(m_resultList, 1);
    layout->addLayout(bottom);

    // Only the operator's choices run a query; the dialog's own settings of
    // the lists do not.
    connect(m_hostCombo, &QComboBox::activated, this, &LogViewerDialog::onServiceChosen);
    connect(m_portCombo, &QComboBox::activated, this, &LogViewerDialog::onServiceChosen);
    connect(m_protocolCombo, &QComboBox::activated, this, &LogViewerDialog::onProtocolChosen);

    // Single shot, started again after each slice: a slice that shows an
    // error (and so may run the event loop) is never entered twice.
    m_pump.setSingleShot(true);
    m_pump.setInterval(0);
    connect(&m_pump, &QTimer::timeout, this, &LogViewerDialog::pump);
}

LogViewerDialog::~LogViewerDialog() = default;

void LogViewerDialog::presetService(const QString& host, const QString& protocol,
                                    const QString& port)
{
    m_host = host;
    m_protocol = protocol;
    m_port = port;
}

void LogViewerDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_hostReader.startHosts();
    if (m_hostReader.active())
        m_pump.start();
    else
        hostsLoaded();
    updateLoading();
}

void LogViewerDialog::done(int result)
{
    m_pump.stop();
    m_hostReader.cancel();
    m_serviceReader.cancel();
    updateLoading();
    QDialog::done(result);
}

void LogViewerDialog::pump()
{
    if (m_hostReader.active()) {
        m_hostReader.step(kSlice);
        for (const QString& host : m_hostReader.takeHosts())
            AddSorted(m_hostCombo, host);
        if (!m_hostReader.active())
            hostsLoaded();
    } else if (m_serviceReader.active()) {
        m_serviceReader.step(kSlice);
        m_model->append(m_serviceReader.takeRows());
        if (!m_serviceReader.active())
            serviceLoaded();
    }
    const bool freeing = m_model->freeSome(kFreeRows);
    if (m_hostReader.active() || m_serviceReader.active() || freeing)
        m_pump.start();
    updateLoading();
}

void LogViewerDialog::hostsLoaded()
{
    // An empty table leaves the dialog without hosts and without a query.
    if (m_hostCombo->count() == 0 || m_chosen)
        return;
    if (!m_host.isEmpty() && !m_protocol.isEmpty() && !m_port.isEmpty()) {
        m_averageEdit->setText(QStringLiteral("0 msec"));
        showValues();
    } else {
        m_hostCombo->setCurrentIndex(1);
        m_protocolCombo->setCurrentIndex(1);
    }
    runQuery();
}

void LogViewerDialog::serviceLoaded()
{
    m_model->append(m_serviceReader.takeRows());
    if (m_serviceReader.outOfTimeOrder())
        m_model->sortByTime();
    // A query without rows leaves the summary as it was.
    const LogViewQueries::ServiceLog& log = m_serviceReader.log();
    if (log.empty())
        return;
    m_averageEdit->setText(log.averageText());
    m_pollsEdit->setText(log.pollsText());
}

void LogViewerDialog::onProtocolChosen()
{
    m_chosen = true;
    const QString port = LogViewQueries::PortForProtocol(m_protocolCombo->currentText());
    if (!port.isEmpty())
        m_portCombo->setEditText(port);
    runQuery();
}

void LogViewerDialog::onServiceChosen()
{
    m_chosen = true;
    runQuery();
}

void LogViewerDialog::showValues()
{
    m_hostCombo->setCurrentIndex(m_hostCombo->findText(m_host));
    m_protocolCombo->setCurrentIndex(m_protocolCombo->findText(m_protocol));
    m_portCombo->setEditText(m_port);
}

void LogViewerDialog::runQuery()
{
    m_host = m_hostCombo->currentText();
    m_protocol = m_protocolCombo->currentText();
    m_port = m_portCombo->currentText();
    m_model->clear();
    // Drops a read under way.
    m_serviceReader.startService(m_host, m_protocol, m_port);
    if (!m_serviceReader.active())
        serviceLoaded();
    m_pump.start();
    updateLoading();
}

void LogViewerDialog::updateLoading()
{
    m_loading->setVisible(m_hostReader.active() || m_serviceReader.active());
}

} // namespace qm::ui
