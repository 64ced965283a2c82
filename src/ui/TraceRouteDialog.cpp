#include "ui/TraceRouteDialog.h"

#include "notify/CallerRelay.h"
#include "platform/OperatorPrompt.h"
#include "platform/TimeText.h"
#include "platform/WorkerThread.h"
#include "probes/ProbeSocket.h"
#include "probes/ResultSink.h"
#include "tools/TraceRoute.h"
#include "ui/HealthIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <atomic>

namespace qm::ui {

namespace {

std::atomic<int> g_runningTraces{0};

constexpr const char* kStampFormat = "%a, %d %b %Y %H:%M:%S";

enum Column
{
    kTtlColumn,
    kResponseColumn,
    kHostColumn,
    kStampColumn
};

// Passes the trace's operator messages on until the trace is cancelled: a
// closed dialog raises no more message boxes.
class CancellablePrompt final : public OperatorPrompt
{
public:
    CancellablePrompt(OperatorPrompt& target, const std::atomic<bool>& cancel)
        : m_target(target), m_cancel(cancel)
    {
    }
    void inform(Icon icon, const std::string& text) override
    {
        if (!m_cancel)
            m_target.inform(icon, text);
    }
    bool confirm(const std::string& text) override { return !m_cancel && m_target.confirm(text); }

private:
    OperatorPrompt& m_target;
    const std::atomic<bool>& m_cancel;
};

} // namespace

// What the worker of one trace keeps to its end. The way back to the dialog
// is a relay the dialog owns: once it replaces or drops it (another trace,
// or the dialog is gone), the worker's posts go nowhere.
struct TraceRouteDialog::Job
{
    std::atomic<bool> cancel{false};
    OperatorPrompt* prompt = nullptr;
    CallerRelay::Handle toDialog;
};

TraceRouteDialog::TraceRouteDialog(const QString& host, OperatorPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_prompt(prompt)
{
    setObjectName(QStringLiteral("TraceRouteDialog"));
    setWindowTitle(QStringLiteral("Trace Route"));

    auto* hostLabel = new QLabel(QStringLiteral("HOST:"), this);
    m_hostEdit = new QLineEdit(host, this);
    m_hostEdit->setObjectName(QStringLiteral("hostEdit"));
    hostLabel->setBuddy(m_hostEdit);
    m_traceButton = new QPushButton(QStringLiteral("Perform Trace Route"), this);
    m_traceButton->setObjectName(QStringLiteral("traceButton"));
    // Enter in the host field starts the trace.
    m_traceButton->setDefault(true);

    m_hopList = new QTreeWidget(this);
    m_hopList->setObjectName(QStringLiteral("hopList"));
    m_hopList->setColumnCount(4);
    m_hopList->setHeaderLabels({QStringLiteral("TTL"), QStringLiteral("Response"),
                                QStringLiteral("Host"), QStringLiteral("Date Stamp")});
    m_hopList->setRootIsDecorated(false);
    m_hopList->setUniformRowHeights(true);
    m_hopList->setAllColumnsShowFocus(true);
    m_hopList->setSelectionMode(QAbstractItemView::SingleSelection);
    const int widths[] = {45, 75, 305, 150};
    for (int column = 0; column < 4; ++column)
        m_hopList->setColumnWidth(column, widths[column]);
    for (int column : {kResponseColumn, kStampColumn})
        m_hopList->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);

    auto* hopsLabel = new QLabel(QStringLiteral("# Hops"), this);
    m_hopsEdit = new QLineEdit(this);
    m_hopsEdit->setObjectName(QStringLiteral("hopsEdit"));
    m_hopsEdit->setReadOnly(true);
    m_hopsEdit->setMaximumWidth(60);
    hopsLabel->setBuddy(m_hopsEdit);
    auto* okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setAutoDefault(false);

    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(hostLabel);
    hostRow->addWidget(m_hostEdit, 1);
    hostRow->addWidget(m_traceButton);
    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(hopsLabel);
    bottomRow->addWidget(m_hopsEdit);
    bottomRow->addStretch(1);
    bottomRow->addWidget(okButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(hostRow);
    layout->addWidget(m_hopList, 1);
    layout->addLayout(bottomRow);
    resize(640, 380);

    connect(m_traceButton, &QPushButton::clicked, this, &TraceRouteDialog::startTrace);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
}

TraceRouteDialog::~TraceRouteDialog()
{
    if (m_job)
        m_job->cancel = true;
}

int TraceRouteDialog::runningTraces()
{
    return g_runningTraces.load();
}

void TraceRouteDialog::done(int result)
{
    cancelTrace();
    QDialog::done(result);
}

void TraceRouteDialog::startTrace()
{
    if (m_job)
        return; // one trace at a time
    m_hopList->clear();
    const QString host = m_hostEdit->text().trimmed();
    if (host.isEmpty())
        return;

    m_relay = std::make_unique<CallerRelay>();
    auto job = std::make_shared<Job>();
    job->prompt = &m_prompt;
    job->toDialog = m_relay->handle();
    m_job = job;
    m_traceButton->setEnabled(false);
    setCursor(Qt::WaitCursor);

    ++g_runningTraces;
    const ThreadStart started = StartDetachedThread([this, job, target = host.toStdString()] {
        {
            // Routers answer with ICMP messages the probe reports as failures,
            // and a hop without a reverse name is one too: the dialog lists
            // hops, not these events.
            DiscardingSink sink;
            ProbeSocket probe(sink);
            CancellablePrompt prompt(*job->prompt, job->cancel);
            const TraceOutcome outcome = TraceRoute(
                probe, target,
                [this, &job](const TraceHop& hop) {
                    const QString stamp = QString::fromStdString(FormatLocalTime(kStampFormat));
                    job->toDialog.post([this, hop, stamp] { addHop(hop, stamp); });
                },
                &prompt, &job->cancel);
            job->toDialog.post([this, hops = outcome.hops] { finishTrace(hops); });
        }
        --g_runningTraces;
    });
    if (!started.started) {
        --g_runningTraces;
        cancelTrace();
        m_prompt.inform(OperatorPrompt::Icon::Stop,
                        "The trace could not be started: " + started.error);
    }
}

void TraceRouteDialog::cancelTrace()
{
    if (!m_job)
        return;
    m_job->cancel = true;
    m_job.reset();
    m_relay.reset(); // what the worker posted and is not shown yet goes too
    showIdle();
}

void TraceRouteDialog::showIdle()
{
    m_traceButton->setEnabled(true);
    unsetCursor();
}

void TraceRouteDialog::addHop(const TraceHop& hop, const QString& stamp)
{
    auto* item = new QTreeWidgetItem;
    item->setText(kTtlColumn, QString::asprintf("%.02d", hop.ttl));
    if (hop.error) {
        item->setText(kResponseColumn, QStringLiteral("Err"));
        item->setText(kHostColumn, QStringLiteral("Err"));
        item->setIcon(kTtlColumn, HealthIcons::icon(HealthIcons::kRed));
    } else {
        item->setText(kResponseColumn, QString::fromStdString(hop.timeText));
        item->setText(kHostColumn, QString::fromStdString(hop.name));
        item->setIcon(kTtlColumn, HealthIcons::icon(HealthIcons::kGreen));
    }
    item->setText(kStampColumn, stamp);
    for (int column : {kResponseColumn, kStampColumn})
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    m_hopList->addTopLevelItem(item);
    m_hopList->setCurrentItem(item);
    m_hopList->scrollToItem(item);
}

void TraceRouteDialog::finishTrace(int hops)
{
    m_hopsEdit->setText(QString::number(hops));
    // The relay stays: this runs inside one of its deliveries, and the worker
    // posts nothing after this.
    m_job.reset();
    showIdle();
}

} // namespace qm::ui
