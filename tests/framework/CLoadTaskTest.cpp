#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "framework/CLoadTask.h"
#include "framework/fake/CFakeFrameworkServices.h"

namespace {

bool WaitFinished(const CLoadTask& task)
{
    for (int i = 0; i < 500 && !task.Finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return task.Finished();
}

using Progress = CFrameworkServices::Progress;

TEST(CLoadTaskTest, ShowsTheBytesDoneAndRunsTheJobToItsEnd)
{
    CFakeFrameworkServices services;
    std::atomic<bool> bGo{false};
    std::atomic<bool> bEnded{false};
    // Two reports to a byte, as an import counts them.
    CLoadTask task(
        services,
        [&](const Progress& progress) {
            progress(1024, 4096);
            while (!bGo.load())
                std::this_thread::yield();
            bEnded.store(true);
        },
        2);
    for (int i = 0; i < 500 && task.ProgressSteps(1000) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(task.Finished());
    EXPECT_EQ(task.ProgressSteps(1000), 250);
    EXPECT_EQ(task.ProgressText(), "解析需要一点时间, 请多一点点耐心等待结束...\n已处理 512 字节 / 2.0 KB");
    bGo.store(true);
    ASSERT_TRUE(WaitFinished(task));
    EXPECT_TRUE(task.Completed());
    EXPECT_TRUE(bEnded.load());
}

TEST(CLoadTaskTest, CancelStopsTheJobAtItsNextReport)
{
    CFakeFrameworkServices services;
    CLoadTask task(
        services,
        [](const Progress& progress) {
            for (int64_t n = 0; n < 1000000 && progress(n, 0); ++n)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        1);
    EXPECT_EQ(task.ProgressSteps(1000), 0);
    task.Cancel();
    ASSERT_TRUE(WaitFinished(task));
    EXPECT_FALSE(task.Completed());
}

TEST(CLoadTaskTest, ATaskThatGoesWaitsForItsJob)
{
    CFakeFrameworkServices services;
    std::atomic<bool> bRelease{false};
    std::atomic<bool> bEnded{false};
    std::thread release;
    {
        CLoadTask task(
            services,
            [&](const Progress& progress) {
                // Reports until told to stop, then takes a while to end.
                while (progress(0, 0))
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                while (!bRelease.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                bEnded.store(true);
            },
            1);
        release = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            bRelease.store(true);
        });
    }
    EXPECT_TRUE(bEnded.load()) << "the job ended before the task went";
    release.join();
}

TEST(CLoadTaskTest, RunsAtOnceWithoutAThread)
{
    CFakeFrameworkServices services;
    services.m_bFailThreads = true;
    bool bRan = false;
    CLoadTask task(services, [&bRan](const Progress&) { bRan = true; }, 1);
    EXPECT_TRUE(bRan);
    EXPECT_TRUE(task.Finished());
    EXPECT_TRUE(task.Completed());
}

TEST(CLoadTaskTest, SizesInBytesKilobytesMegabytes)
{
    EXPECT_EQ(CLoadTask::SizeText(0), "0 字节");
    EXPECT_EQ(CLoadTask::SizeText(1023), "1023 字节");
    EXPECT_EQ(CLoadTask::SizeText(1048575), "1.0 MB");
    EXPECT_EQ(CLoadTask::SizeText(int64_t(3) << 40), "3.0 TB");
}

}  // namespace
