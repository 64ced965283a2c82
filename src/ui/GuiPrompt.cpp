#include "ui/GuiPrompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cstdio>

namespace qm::ui {

namespace {

QMessageBox::Icon BoxIcon(OperatorPrompt::Icon icon)
{
    switch (icon) {
    case OperatorPrompt::Icon::Information: return QMessageBox::Information;
    case OperatorPrompt::Icon::Warning: return QMessageBox::Warning;
    case OperatorPrompt::Icon::Stop: return QMessageBox::Critical;
    case OperatorPrompt::Icon::Question: return QMessageBox::Question;
    case OperatorPrompt::Icon::Plain: break;
    }
    return QMessageBox::NoIcon;
}

bool OnMainThread()
{
    return QThread::currentThread() == qApp->thread();
}

} // namespace

GuiPrompt::GuiPrompt(QWidget* window) : m_window(window) {}

GuiPrompt::~GuiPrompt()
{
    shutdown();
}

QMessageBox* GuiPrompt::makeBox(const Request& request, QWidget* parent) const
{
    auto* box = new QMessageBox(BoxIcon(request.icon), QStringLiteral("Quillmere"), request.text,
                                request.question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    box->setObjectName(QLatin1String(kBoxObjectName));
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

void GuiPrompt::inform(Icon icon, const std::string& text)
{
    Request request{icon, false, QString::fromStdString(text), {}};
    if (OnMainThread()) {
        enqueue(std::move(request));
        return;
    }
    request.answer = std::make_shared<std::promise<bool>>();
    auto answered = request.answer->get_future();
    enqueue(std::move(request));
    answered.wait();
}

bool GuiPrompt::confirm(const std::string& text)
{
    Request request{Icon::Question, true, QString::fromStdString(text), {}};
    if (OnMainThread()) {
        // An answer on the main thread would need a nested event loop, inside
        // which any handler could run again; the window asks its own
        // questions with boxes that answer later. A question from core code
        // on this thread is answered No.
        std::fprintf(stderr, "quillmere: question on the main thread answered No: %s\n", text.c_str());
        return false;
    }
    request.answer = std::make_shared<std::promise<bool>>();
    auto answered = request.answer->get_future();
    enqueue(std::move(request));
    return answered.get();
}

void GuiPrompt::enqueue(Request request)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown) {
            if (request.answer)
                request.answer->set_value(false);
            return;
        }
        // The same message already waiting is not shown twice.
        if (!request.answer) {
            for (const Request& queued : m_queue)
                if (!queued.answer && queued.icon == request.icon && queued.text == request.text)
                    return;
        }
        m_queue.push_back(std::move(request));
    }
    QMetaObject::invokeMethod(this, &GuiPrompt::showNext, Qt::QueuedConnection);
}

void GuiPrompt::showNext()
{
    Request front;
    {
        std::lock_guard lock(m_mutex);
        if (m_showing || m_queue.empty() || m_shutDown)
            return;
        m_showing = true;
        front = m_queue.front();
    }
    QMessageBox* box = makeBox(front, m_window);
    connect(box, &QMessageBox::finished, this, [this](int result) {
        Request done;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty())
                return;
            done = std::move(m_queue.front());
            m_queue.pop_front();
            m_showing = false;
        }
        if (done.answer)
            done.answer->set_value(result == QMessageBox::Yes);
        showNext();
    });
    box->open();
}

void GuiPrompt::shutdown()
{
    std::deque<Request> left;
    {
        std::lock_guard lock(m_mutex);
        m_shutDown = true;
        left.swap(m_queue);
        m_showing = false;
    }
    for (Request& request : left)
        if (request.answer)
            request.answer->set_value(false);
    if (m_window)
        for (QMessageBox* box : m_window->findChildren<QMessageBox*>(QLatin1String(kBoxObjectName)))
            box->close();
}

int GuiPrompt::pending() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_queue.size());
}

} // namespace qm::ui
