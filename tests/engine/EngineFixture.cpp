#include "EngineFixture.h"

#include <QCoreApplication>

#include <thread>

namespace qm::test {

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

EngineFixture::EngineFixture()
{
    m_settings = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.ini")));
}

EngineFixture::~EngineFixture()
{
    if (m_controller) {
        m_controller->OnMonitoringStop();
        // Let the workers hand their sessions back before the queue goes away.
        WaitUntil([this] { return m_controller->liveThreads() == 0; }, std::chrono::seconds(15));
    }
}

int EngineFixture::addRow(const HostTexts& row)
{
    return m_hosts.insertHost(m_hosts.rowCount(), row);
}

MonitorController& EngineFixture::controller()
{
    if (!m_controller) {
        MonitorController::Services services;
        services.recorder = &m_recorder;
        services.pane = &m_pane;
        services.notifier = &m_notifier;
        services.syslogListener = m_listener;
        m_controller = std::make_unique<MonitorController>(m_hosts, *m_settings, services);
    }
    return *m_controller;
}

void EngineFixture::success(uint32_t tid, const std::string& message, uint32_t ms)
{
    auto r = std::make_unique<ProbeResult>();
    r->message = message;
    r->responseTime = ms;
    controller().OnPollSuccess(tid, std::move(r));
}

void EngineFixture::failure(uint32_t tid, const std::string& message)
{
    auto r = std::make_unique<ProbeResult>();
    r->message = message;
    controller().OnPollFailure(tid, std::move(r));
}

} // namespace qm::test
