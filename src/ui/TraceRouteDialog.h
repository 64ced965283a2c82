#pragma once

#include <QDialog>

#include <memory>
#include <string>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace qm {
class CallerRelay;
class OperatorPrompt;
struct TraceHop;
} // namespace qm

namespace qm::ui {

// The "Trace Route" dialog: traces the route to the host of its edit field and
// lists one row per hop as the hops are found.
//
// The trace runs on a worker thread of its own, so the window stays usable.
// Closing or destroying the dialog cancels the trace without waiting for the
// worker: it ends on its own within about one receive time-out and never
// touches the dialog again. Operator messages of the trace go to `prompt`
// from the worker thread, so it must be safe to call from any thread and live
// as long as the program (the program's prompt does both).
class TraceRouteDialog : public QDialog
{
    Q_OBJECT

public:
    TraceRouteDialog(const QString& host, OperatorPrompt& prompt, QWidget* parent = nullptr);
    ~TraceRouteDialog() override;

    // OK, Escape and the close box all end here: cancels a running trace.
    void done(int result) override;

    // Trace workers of all dialogs that have not ended yet.
    static int runningTraces();

private:
    struct Job;

    void startTrace();
    void cancelTrace();
    void showIdle();
    void addHop(const TraceHop& hop, const QString& stamp);
    void finishTrace(int hops);

    OperatorPrompt& m_prompt;
    std::shared_ptr<Job> m_job; // the running trace, if any
    std::unique_ptr<CallerRelay> m_relay; // the way back from the last trace's worker
    QLineEdit* m_hostEdit = nullptr;
    QPushButton* m_traceButton = nullptr;
    QTreeWidget* m_hopList = nullptr;
    QLineEdit* m_hopsEdit = nullptr;
};

} // namespace qm::ui
