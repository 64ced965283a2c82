#include "support/EventPump.h"
#include "ui/GuiPrompt.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace qm::test {
namespace {

QMessageBox* ShownBox(QWidget& window)
{
    for (auto* box : window.findChildren<QMessageBox*>(QLatin1String(ui::GuiPrompt::kBoxObjectName)))
        if (box->isVisible())
            return box;
    return nullptr;
}

TEST(GuiPromptTest, WorkersWaitForTheOperatorWhileTheMainThreadRuns)
{
    QWidget window;
    window.show();
    ui::GuiPrompt prompt(&window);

    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = prompt.confirm("Use the name as it is?") ? 1 : 0; });

    // The main thread keeps handling events while the worker waits.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(PumpEventsUntil([&] { return (box = ShownBox(window)) != nullptr; }, 5s));
    EXPECT_EQ(box->text(), "Use the name as it is?");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    const int before = ticks;
    EXPECT_TRUE(PumpEventsUntil([&] { return ticks > before + 3; }, 2s));
    EXPECT_EQ(answer, -1);

    box->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(PumpEventsUntil([&] { return answer != -1; }, 5s));
    worker.join();
    EXPECT_EQ(answer, 1);

    // Main-thread messages do not wait: they show in order, one at a time;
    // the same message waiting already is not repeated.
    prompt.inform(OperatorPrompt::Icon::Stop, "first");
    prompt.inform(OperatorPrompt::Icon::Warning, "second");
    prompt.inform(OperatorPrompt::Icon::Warning, "second");
    EXPECT_EQ(prompt.pending(), 2);
    ASSERT_TRUE(PumpEventsUntil([&] { return ShownBox(window) != nullptr; }, 5s));
    EXPECT_EQ(ShownBox(window)->text(), "first");
    EXPECT_EQ(ShownBox(window)->icon(), QMessageBox::Critical);
    ShownBox(window)->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(PumpEventsUntil([&] { auto* b = ShownBox(window); return b && b->text() == "second"; }, 5s));
    ShownBox(window)->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(PumpEventsUntil([&] { return prompt.pending() == 0; }, 5s));
}

TEST(GuiPromptTest, ShutdownReleasesWaitingWorkers)
{
    QWidget window;
    ui::GuiPrompt prompt(&window);
    std::atomic<int> done{0};
    std::thread asker([&] { EXPECT_FALSE(prompt.confirm("question")); ++done; });
    std::thread teller([&] { prompt.inform(OperatorPrompt::Icon::Information, "note"); ++done; });
    ASSERT_TRUE(PumpEventsUntil([&] { return prompt.pending() == 2; }, 5s));
    prompt.shutdown();
    asker.join();
    teller.join();
    EXPECT_EQ(done, 2);
    // After shutdown nothing waits any more.
    std::thread late([&] { EXPECT_FALSE(prompt.confirm("late")); });
    late.join();
}

} // namespace
} // namespace qm::test
