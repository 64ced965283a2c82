#pragma once

#include "store/FtpUploader.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qm {

// Runs FTP uploads one at a time on a worker thread of its own, so the main
// thread never waits on the network. A document submitted while an older one
// of the same name still waits replaces it: only the newest is worth sending.
class FtpUploadQueue
{
public:
    struct Job
    {
        FtpUploader::Target target;
        QString remoteName;
        QByteArray data; // the document as it was when the export ran
    };
    // Runs on the thread that created the queue (through its event loop).
    using Finished =
        std::function<void(const QString& remoteName, const FtpUploader::Outcome& outcome)>;

    explicit FtpUploadQueue(Finished finished);
    // Cancels a running upload (it ends within the transfer library's next
    // progress check) and waits for the worker.
    ~FtpUploadQueue();
    FtpUploadQueue(const FtpUploadQueue&) = delete;
    FtpUploadQueue& operator=(const FtpUploadQueue&) = delete;

    void submit(Job job);
    // True while an upload runs or waits.
    bool busy() const;

private:
    void run();

    Finished m_finished;
    std::unique_ptr<QObject> m_context; // receives the finished calls on the creating thread
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_pending;
    bool m_running = false;
    bool m_stop = false;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

} // namespace qm
