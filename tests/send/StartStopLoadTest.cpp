#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "ProcessStats.h"
#include "load/CTextLoader.h"
#include "net/CLNHanlder.h"
#include "net/CUDPSocket.h"
#include "net/LoopbackPeer.h"
#include "schedule/SendModes.h"
#include "send/CSendNotify.h"
#include "send/CSendRun.h"
#include "send/CSocketSink.h"
#include "send/CSystemClock.h"
#include "send/SendWorker.h"
#include "text/TovrikTexts.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TOVRIK_SANITIZER_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOVRIK_SANITIZER_HEAP 1
#endif
#ifdef TOVRIK_SANITIZER_HEAP
// From the sanitizer runtime (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// The real clock, but ticks that take no time, so a thousand runs fit in a
// test.
class CQuickClock : public CSystemClock {
public:
    bool Sleep(int, const std::atomic<bool>&) override
    {
        std::this_thread::yield();
        return true;
    }
};

class CCountingNotify : public CSendNotify {
public:
    void OnSendTick(uint32_t) override { ++m_nTicks; }
    void OnSendEnd() override { ++m_nEnds; }
    std::atomic<long> m_nTicks{0};
    std::atomic<long> m_nEnds{0};
};

// The application's endpoint, open on a port of the system's choice.
struct OpenEndpoint {
    OpenEndpoint()
    {
        endpoint.SetHandler(&handler);
        bOpen = endpoint.Create(0) == 1;
    }
    CLNHanlder handler;
    CUDPSocket endpoint;
    bool bOpen = false;
};

// Memory in use in kB: the resident set; under a sanitizer, whose allocator
// holds freed blocks in quarantine and maps shadow memory, the live heap.
long MemoryInUseKb()
{
#ifdef TOVRIK_SANITIZER_HEAP
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return ProcessStats::ResidentKb();
#endif
}

}  // namespace

// The stop button's path a thousand times while the endpoint is flooded:
// every run ends with its notice, and threads and memory stay flat.
TEST(StartStopLoadTest, AThousandRunsUnderAFloodLeaveNoThreadsOrMemoryBehind)
{
    OpenEndpoint open;
    ASSERT_TRUE(open.bOpen);
    CUDPSocket& endpoint = open.endpoint;
    const uint16_t nEndpointPort = endpoint.LocalPort();

    LoopbackPeer target;
    std::atomic<bool> bFlooding{true};
    std::thread flood([&] {
        LoopbackPeer source;
        const std::string bytes(65507, 'f');
        size_t nSize = 1;
        while (bFlooding.load()) {
            source.SendTo(nEndpointPort, bytes.substr(0, nSize));
            nSize = nSize * 7 % 65507 + 1;
        }
    });

    CQuickClock clock;
    CSendRun run(endpoint.Handle(), clock);
    CCountingNotify notify;
    SendSettings settings;
    settings.mode = SendModes::kEvery10Ms;
    settings.strDeviceInfo = TovrikTexts::kDeviceInfo;
    settings.nTargetPort = target.Port();

    auto runOnce = [&] {
        CLoadResult loaded = CTextLoader::Load(TovrikTexts::kStatusMessage, false);
        ASSERT_TRUE(run.Start(settings, std::move(loaded.pPackets), nullptr, notify).IsOk());
        run.Stop();
        ASSERT_FALSE(run.IsRunning());
    };
    for (int i = 0; i < 50; ++i)
        runOnce();
    const long nThreads = ProcessStats::Threads();
    ASSERT_GT(nThreads, 0);
    const long nMemoryKb = MemoryInUseKb();
    for (int i = 0; i < 1000; ++i)
        runOnce();
    EXPECT_EQ(notify.m_nEnds.load(), 1050);
    EXPECT_GE(notify.m_nTicks.load(), 1050);
    EXPECT_EQ(ProcessStats::Threads(), nThreads);
    EXPECT_LT(MemoryInUseKb() - nMemoryKb, 16 * 1024) << "kB grown over a thousand runs";

    bFlooding = false;
    flood.join();
    EXPECT_TRUE(endpoint.HasThread()) << "the endpoint kept reading through the flood";
}

// Stop wakes the worker from its tick's sleep: a run in the hourly mode,
// stopped just after a tick, ends at once instead of a tick later.
TEST(StartStopLoadTest, StopEndsTheRunWithoutWaitingOutTheTick)
{
    OpenEndpoint open;
    ASSERT_TRUE(open.bOpen);
    CUDPSocket& endpoint = open.endpoint;
    LoopbackPeer target;
    CSystemClock clock;
    CSendRun run(endpoint.Handle(), clock);
    CCountingNotify notify;
    SendSettings settings;
    settings.mode = SendModes::kEveryHour;
    settings.nTargetPort = target.Port();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(run.Start(settings, CTextLoader::Load("{\"a\":1}", false).pPackets, nullptr, notify).IsOk());
        const long nTicks = notify.m_nTicks.load();
        while (notify.m_nTicks.load() == nTicks)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto start = std::chrono::steady_clock::now();
        run.Stop();
        const auto took = std::chrono::steady_clock::now() - start;
        // Typically well under a millisecond; a tick is 100 ms.
        EXPECT_LT(took, std::chrono::milliseconds(50));
    }
    EXPECT_EQ(notify.m_nEnds.load(), 3);
}

// A thread that cannot be had leaves nothing running and says why.
TEST(StartStopLoadTest, AThreadThatCannotBeCreatedStartsNothing)
{
    CQuickClock clock;
    CCountingNotify notify;
    CSendRun run(-1, clock, [](std::function<void()>, std::unique_ptr<std::thread>&) {
        return CStatus::Error("Resource temporarily unavailable");
    });
    const CStatus started = run.Start(SendSettings(), CTextLoader::Load("{\"a\":1}", false).pPackets, nullptr, notify);
    EXPECT_EQ(started.Message(), "Resource temporarily unavailable");
    EXPECT_FALSE(run.IsRunning());
    run.Stop();
    EXPECT_EQ(notify.m_nEnds.load() + notify.m_nTicks.load(), 0);
}

// A target that cannot be resolved sends nothing, and the run goes on.
TEST(StartStopLoadTest, AnUnresolvableTargetSendsNothingAndTheRunGoesOn)
{
    OpenEndpoint open;
    ASSERT_TRUE(open.bOpen);
    CUDPSocket& endpoint = open.endpoint;
    CQuickClock clock;
    CSocketSink sink(endpoint.Handle());
    CCountingNotify notify;
    SendSettings settings;
    settings.mode = SendModes::kEvery100Ms;
    settings.strTargetIp = "not a host";
    settings.strDeviceInfo = TovrikTexts::kDeviceInfo;
    CLoadResult loaded = CTextLoader::Load("{\"a\":1}{\"b\":2}{\"c\":3}", false);
    std::atomic<bool> bRunning{true};
    SendWorker worker(settings, std::move(loaded.pPackets), nullptr, bRunning, clock, sink, notify);
    worker.Run();
    // Each packet counted as sent: the run ended after the last one.
    EXPECT_EQ(notify.m_nTicks.load(), 4);
    EXPECT_EQ(notify.m_nEnds.load(), 1);
}
