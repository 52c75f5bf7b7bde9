#pragma once

#include <atomic>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "packet/PacketList.h"
#include "send/CDatagramSink.h"
#include "send/CSendClock.h"
#include "send/CSendNotify.h"

// A clock that only moves when the worker sleeps (or a test moves it), in
// milliseconds; Now() is the whole second, as time() would give it. Its
// sleep keeps CSendClock's contract as the real one does.
class CFakeClock : public CSendClock {
public:
    explicit CFakeClock(int64_t nStartMs) : m_nMs(nStartMs) {}

    int64_t Now() override { return m_nMs >= 0 ? m_nMs / 1000 : -((-m_nMs + 999) / 1000); }
    bool Sleep(int nMilliseconds, const std::atomic<bool>& bRunning) override
    {
        m_sleeps.push_back(nMilliseconds);
        const int nTick = static_cast<int>(m_sleeps.size());
        const int64_t nEndMs = m_nMs + nMilliseconds;
        if (m_inSleep)
            m_inSleep(*this, nTick);
        const bool bWoken = std::exchange(m_bWoken, false);
        if (!bRunning.load()) {
            // Without a wake-up the flag is seen when the interval is over.
            if (!bWoken)
                m_nMs = nEndMs;
            return false;
        }
        m_nMs = nEndMs;
        if (m_onSleep)
            m_onSleep(*this, nTick);
        return true;
    }
    void Wake() override { m_bWoken = true; }

    int64_t Ms() const { return m_nMs; }
    void Move(int64_t nDeltaMs) { m_nMs += nDeltaMs; }

    // Called inside each sleep, with the number of the tick it precedes: what
    // another thread does meanwhile (move the clock less than the interval,
    // clear the flag, Wake()).
    std::function<void(CFakeClock&, int)> m_inSleep;
    // Called after each sleep with the number of the tick that begins.
    std::function<void(CFakeClock&, int)> m_onSleep;
    std::vector<int> m_sleeps;

private:
    int64_t m_nMs;
    bool m_bWoken = false;
};

struct SentDatagram {
    std::string strTarget;
    uint16_t nPort;
    std::string bytes;
    int64_t nMs;  // the fake clock when it was sent
};

class CFakeSink : public CDatagramSink {
public:
    explicit CFakeSink(const CFakeClock& clock) : m_clock(clock) {}
    bool Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength) override
    {
        m_sent.push_back({strTarget, nPort, std::string(pData, nLength), m_clock.Ms()});
        return true;
    }
    std::vector<SentDatagram> m_sent;

private:
    const CFakeClock& m_clock;
};

class CFakeNotify : public CSendNotify {
public:
    explicit CFakeNotify(const CFakeSink& sink) : m_sink(sink) {}
    void OnSendTick(uint32_t nClockLow) override
    {
        m_ticks.push_back(nClockLow);
        ++m_nEventsAfterEnd[m_nEnds > 0];
    }
    void OnSendEnd() override
    {
        ++m_nEnds;
        m_nSentAtEnd = m_sink.m_sent.size();
    }
    std::vector<uint32_t> m_ticks;
    int m_nEnds = 0;
    size_t m_nSentAtEnd = 0;
    int m_nEventsAfterEnd[2] = {0, 0};

private:
    const CFakeSink& m_sink;
};

inline std::unique_ptr<PacketList> MakePackets(std::initializer_list<std::string> texts)
{
    auto pList = std::make_unique<PacketList>();
    for (const std::string& text : texts) {
        std::unique_ptr<char[]> block(new char[text.size()]);
        std::memcpy(block.get(), text.data(), text.size());
        pList->Add(std::move(block), static_cast<int32_t>(text.size()));
    }
    return pList;
}
