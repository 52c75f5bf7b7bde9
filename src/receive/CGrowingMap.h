#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>

// A map from text keys that grows without stopping: std::unordered_map moves
// every entry at once when it outgrows its buckets (150 ms at 700,000
// entries, while a receiver's socket fills), so when the table is full a
// table twice as large takes over and each later lookup moves a few entries
// of the full one into it; the full one is empty long before the new one is
// full. Entries are never removed. One thread.
template <typename Value>
class CGrowingMap {
public:
    CGrowingMap()
    {
        m_current.max_load_factor(kLoad);
        m_current.reserve(1024);
    }

    // The entry of the key, a value-initialised one when it had none.
    Value& operator[](const std::string& strKey)
    {
        MoveSome();
        const auto found = m_current.find(strKey);
        if (found != m_current.end())
            return found->second;
        if (!m_full.empty()) {
            const auto old = m_full.find(strKey);
            if (old != m_full.end())
                return m_current.insert(m_full.extract(old)).position->second;
        }
        if (m_current.size() + 1 > static_cast<size_t>(static_cast<float>(m_current.bucket_count()) * kLoad))
            TakeOver();
        return m_current.try_emplace(strKey).first->second;
    }

    size_t Size() const { return m_current.size() + m_full.size(); }

    // Calls f(key, value) for every entry, in no order.
    template <typename Function>
    void ForEach(Function&& f)
    {
        for (auto& entry : m_full)
            f(entry.first, entry.second);
        for (auto& entry : m_current)
            f(entry.first, entry.second);
    }
    template <typename Function>
    void ForEach(Function&& f) const
    {
        for (const auto& entry : m_full)
            f(entry.first, entry.second);
        for (const auto& entry : m_current)
            f(entry.first, entry.second);
    }

private:
    static constexpr float kLoad = 1.0f;
    // Entries moved a lookup: the full table of N entries is empty after N/4
    // lookups, before the new one (of 2N buckets) has taken N more.
    static constexpr int kMovedALookup = 4;

    void MoveSome()
    {
        for (int i = 0; i < kMovedALookup && !m_full.empty(); ++i)
            m_current.insert(m_full.extract(m_full.begin()));
    }

    void TakeOver()
    {
        // Whatever is left of the last take-over first: rare, and small.
        while (!m_full.empty())
            m_current.insert(m_full.extract(m_full.begin()));
        m_full.swap(m_current);
        m_current = std::unordered_map<std::string, Value>();
        m_current.max_load_factor(kLoad);
        m_current.reserve(2 * m_full.size() + 16);
    }

    std::unordered_map<std::string, Value> m_current;
    // The table that filled, emptied a few entries a lookup.
    std::unordered_map<std::string, Value> m_full;
};
