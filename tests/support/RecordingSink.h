#pragma once

#include "engine/EngineEvents.h"
#include "engine/HostSession.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace qm::test {

// Collects every report a probe or thread makes, from any thread.
class RecordingSink : public EngineEvents
{
public:
    struct Report
    {
        enum Kind { Success, Failure, Syslog, Status, Ended } kind;
        uint32_t threadId = 0;
        ProbeResult result;
        int status = -1;
    };

    void reportSuccess(uint32_t tid, std::unique_ptr<ProbeResult> r) override { add({Report::Success, tid, *r}); }
    void reportFailure(uint32_t tid, std::unique_ptr<ProbeResult> r) override { add({Report::Failure, tid, *r}); }
    void postSyslog(uint32_t tid, std::unique_ptr<ProbeResult> r) override { add({Report::Syslog, tid, *r}); }
    void postStatus(uint32_t tid, int code) override { add({Report::Status, tid, {}, code}); }
    void postThreadEnded(uint32_t tid, std::unique_ptr<HostSession>) override { add({Report::Ended, tid, {}}); }

    std::vector<Report> reports() const
    {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }
    // Success and failure reports only, in order.
    std::vector<Report> results() const
    {
        std::vector<Report> out;
        for (const auto& r : reports())
            if (r.kind == Report::Success || r.kind == Report::Failure)
                out.push_back(r);
        return out;
    }
    // Waits until at least n reports of the kind arrived; false on time-out.
    bool waitFor(Report::Kind kind, std::size_t n, std::chrono::milliseconds timeout) const
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] {
            std::size_t c = 0;
            for (const auto& r : m_reports)
                c += r.kind == kind;
            return c >= n;
        });
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_reports.clear();
    }

private:
    void add(Report r)
    {
        {
            std::lock_guard lock(m_mutex);
            m_reports.push_back(std::move(r));
        }
        m_cv.notify_all();
    }
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<Report> m_reports;
};

} // namespace qm::test
