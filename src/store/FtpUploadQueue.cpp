#include "store/FtpUploadQueue.h"

#include <QMetaObject>

namespace qm {

FtpUploadQueue::FtpUploadQueue(Finished finished)
    : m_finished(std::move(finished)), m_context(std::make_unique<QObject>())
{
    FtpUploader::GlobalInit();
}

FtpUploadQueue::~FtpUploadQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_pending.clear();
    }
    m_cancel = true;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // Finished calls still queued for m_context are dropped with it.
}

void FtpUploadQueue::submit(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        bool replaced = false;
        for (Job& waiting : m_pending)
            if (waiting.remoteName == job.remoteName) {
                waiting = job;
                replaced = true;
                break;
            }
        if (!replaced)
            m_pending.push_back(std::move(job));
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
    }
    m_wake.notify_one();
}

bool FtpUploadQueue::busy() const
{
    std::lock_guard lock(m_mutex);
    return m_running || !m_pending.empty();
}

void FtpUploadQueue::run()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stop || !m_pending.empty(); });
        if (m_stop)
            return;
        Job job = std::move(m_pending.front());
        m_pending.pop_front();
        m_running = true;
        lock.unlock();

        const FtpUploader::Outcome outcome =
            FtpUploader::Upload(job.target, job.remoteName, job.data, &m_cancel);
        if (!m_cancel) {
            QMetaObject::invokeMethod(
                m_context.get(),
                [finished = m_finished, name = job.remoteName, outcome] {
                    finished(name, outcome);
                },
                Qt::QueuedConnection);
        }

        lock.lock();
        m_running = false;
    }
}

} // namespace qm
