#include "ui/TraceRouteDialog.h"

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
#include <functional>
#include <mutex>

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

// Every router on the way answers with an ICMP message the probe reports as a
// failure, and so is a hop without a reverse name ("Can't resolve"). The dialog
// lists hops, not these events: they are dropped.
class DroppingSink final : public ResultSink
{
public:
    void reportSuccess(uint32_t, std::unique_ptr<ProbeResult>) override {}
    void reportFailure(uint32_t, std::unique_ptr<ProbeResult>) override {}
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

// What a dialog shares with the worker of one trace. The worker keeps it to
// its end; the dialog lets go of it when the trace ends or is cancelled, and
// from then on the worker reaches the dialog no more.
struct TraceRouteDialog::Job : std::enable_shared_from_this<Job>
{
    std::atomic<bool> cancel{false};
    OperatorPrompt* prompt = nullptr;
    std::mutex mutex;
    TraceRouteDialog* dialog = nullptr; // under mutex; null once the dialog let go

    // Runs fn on the dialog's thread, unless the dialog has let go of this job
    // by then or is gone (Qt drops events queued for a deleted object).
    void post(std::function<void(TraceRouteDialog&)> fn)
    {
        std::lock_guard lock(mutex);
        if (!dialog)
            return;
        TraceRouteDialog* d = dialog;
        QMetaObject::invokeMethod(
            d,
            [d, self = shared_from_this(), fn = std::move(fn)] {
                if (d->m_job == self)
                    fn(*d);
            },
            Qt::QueuedConnection);
    }

    void release()
    {
        std::lock_guard lock(mutex);
        dialog = nullptr;
    }
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
    if (m_job) {
        m_job->cancel = true;
        m_job->release();
    }
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

    auto job = std::make_shared<Job>();
    job->prompt = &m_prompt;
    job->dialog = this;
    m_job = job;
    m_traceButton->setEnabled(false);
    setCursor(Qt::WaitCursor);

    ++g_runningTraces;
    const ThreadStart started = StartDetachedThread([job, target = host.toStdString()] {
        {
            DroppingSink sink;
            ProbeSocket probe(sink);
            CancellablePrompt prompt(*job->prompt, job->cancel);
            const TraceOutcome outcome = TraceRoute(
                probe, target,
                [&job](const TraceHop& hop) {
                    const QString stamp = QString::fromStdString(FormatLocalTime(kStampFormat));
                    job->post([hop, stamp](TraceRouteDialog& d) { d.addHop(hop, stamp); });
                },
                &prompt, &job->cancel);
            job->post([hops = outcome.hops](TraceRouteDialog& d) { d.finishTrace(hops); });
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
    m_job->release();
    m_job.reset();
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
    m_job->release();
    m_job.reset();
    showIdle();
}

} // namespace qm::ui
