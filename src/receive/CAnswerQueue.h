#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/SocketTypes.h"

// Answers held until their instants, the earliest first (in the order they
// came when due at once). Bounded by count and by bytes, so that a slow
// server played against a fast sender cannot take all memory: what does not
// fit is refused. Instants are the caller's clock's. One thread.
class CAnswerQueue {
public:
    struct Answer {
        int64_t nDueNs = 0;
        uint64_t nOrder = 0;
        sockaddr_storage to{};
        std::string bytes;
    };

    static constexpr size_t kMaxAnswers = 100000;
    static constexpr size_t kMaxBytes = 64u << 20;

    explicit CAnswerQueue(size_t nMaxAnswers = kMaxAnswers, size_t nMaxBytes = kMaxBytes);

    // False, and nothing kept, when the queue is full.
    bool Push(int64_t nDueNs, const sockaddr_storage& to, std::string bytes);
    bool Empty() const { return m_heap.empty(); }
    // The earliest instant held; only when not empty.
    int64_t NextDue() const { return m_heap.front().nDueNs; }
    // Takes the earliest answer when it is due at nNowNs.
    bool PopDue(int64_t nNowNs, Answer& answer);

private:
    const size_t m_nMaxAnswers;
    const size_t m_nMaxBytes;
    std::vector<Answer> m_heap;
    size_t m_nBytes = 0;
    uint64_t m_nOrder = 0;
};
