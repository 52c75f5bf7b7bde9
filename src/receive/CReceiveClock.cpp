#include "receive/CReceiveClock.h"

#include <chrono>

namespace {

class CSystemReceiveClock : public CReceiveClock {
public:
    int64_t SteadyNs() override
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    int64_t UnixNs() override
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};

}  // namespace

CReceiveClock& CReceiveClock::System()
{
    static CSystemReceiveClock clock;
    return clock;
}
