#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Datagrams a device's link holds back (jitter, reordering, a late copy),
// each to go at its instant: a heap by instant, those of one instant in the
// order they were held, their bytes in buffers that are reused, so that
// holding costs no allocation once the buffers are warm. One scheduler
// thread's.
class CHeldDatagrams {
public:
    struct Held {
        int64_t nAtNs;
        uint64_t nOrder;
        uint32_t nDevice;
        uint32_t nBuffer;
        size_t nLength;
        // The key its replies are matched by (CReplyMatcher::KeyOf).
        std::optional<uint64_t> matchKey;
    };

    static constexpr int64_t kNone = INT64_MAX;

    // Keeps a copy of the bytes.
    void Hold(uint32_t nDevice, const char* pData, size_t nLength, int64_t nAtNs,
              std::optional<uint64_t> matchKey);
    bool Empty() const { return m_heap.empty(); }
    size_t Size() const { return m_heap.size(); }
    // The earliest instant; kNone when nothing is held.
    int64_t NextNs() const { return m_heap.empty() ? kNone : m_heap.front().nAtNs; }
    // The earliest datagram and its bytes, valid until Pop.
    const Held& Top() const { return m_heap.front(); }
    const char* Data(const Held& held) const { return m_buffers[held.nBuffer].data(); }
    void Pop();
    // Every instant moved by nNs (the clock was set).
    void Shift(int64_t nNs);

private:
    std::vector<Held> m_heap;
    std::vector<std::string> m_buffers;
    std::vector<uint32_t> m_free;
    uint64_t m_nOrder = 0;
};
