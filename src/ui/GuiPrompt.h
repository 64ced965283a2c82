#pragma once

#include "platform/OperatorPrompt.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <future>
#include <memory>
#include <mutex>

class QMessageBox;
class QWidget;

namespace qm::ui {

// The operator prompt of the desktop program: message boxes over the main
// window, one at a time, in the order they were raised.
//
// - From a worker thread: the box is shown by the main thread and the worker
//   waits for the operator's answer; the main thread keeps handling events.
// - From the main thread: inform() shows a window-modal box and returns at
//   once, so no handler ever runs inside a nested event loop; confirm() would
//   need one to wait for its answer, so it answers No (the window asks its
//   own questions with boxes that answer later).
// shutdown() answers every waiting worker (No) and shows nothing more.
class GuiPrompt final : public QObject, public OperatorPrompt
{
    Q_OBJECT

public:
    // Boxes are shown over `window` (set later when the window comes after
    // the objects that may need the prompt).
    explicit GuiPrompt(QWidget* window = nullptr);
    ~GuiPrompt() override;

    void inform(Icon icon, const std::string& text) override;
    bool confirm(const std::string& text) override;

    void setWindow(QWidget* window) { m_window = window; }
    void shutdown();
    // Boxes shown or waiting to be shown.
    int pending() const;

    static constexpr const char* kBoxObjectName = "operatorMessageBox";

private:
    struct Request
    {
        Icon icon = Icon::Plain;
        bool question = false;
        QString text;
        std::shared_ptr<std::promise<bool>> answer; // set for a waiting worker
    };

    void enqueue(Request request);
    void showNext();
    QMessageBox* makeBox(const Request& request, QWidget* parent) const;

    QPointer<QWidget> m_window;
    mutable std::mutex m_mutex;
    std::deque<Request> m_queue; // the first one is on screen
    bool m_showing = false;
    bool m_shutDown = false;
};

} // namespace qm::ui
