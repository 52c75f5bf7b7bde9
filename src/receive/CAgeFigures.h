#pragma once

#include <cstdint>
#include <vector>

// How old messages are when they arrive, in whole seconds: the arrival's
// second less the second of the message's "time" (negative when the
// message's clock is ahead). The whole run's figures and the current
// second's. The median is exact within an hour either way; beyond, it is
// the least or the greatest age seen. A plain value; one thread.
class CAgeFigures {
public:
    struct Figures {
        uint64_t nCount = 0;
        int64_t nMin = 0;
        int64_t nP50 = 0;
        int64_t nMax = 0;
    };

    CAgeFigures();

    void Add(int64_t nSeconds);
    Figures Total() const { return m_total.Read(); }
    // The figures since the last TakeSecond.
    Figures TakeSecond();

private:
    // Ages counted one bucket per second from -kSpan to kSpan.
    class CCounts {
    public:
        CCounts();
        void Add(int64_t nSeconds);
        Figures Read() const;
        void Clear();

    private:
        std::vector<uint64_t> m_counts;
        uint64_t m_nBelow = 0;
        Figures m_figures;
    };

    static constexpr int64_t kSpan = 3600;

    CCounts m_total;
    CCounts m_second;
};
