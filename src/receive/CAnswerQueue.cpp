#include "receive/CAnswerQueue.h"

#include <algorithm>

namespace {

// The heap's order: the earliest instant on top, then the first pushed.
bool Later(const CAnswerQueue::Answer& a, const CAnswerQueue::Answer& b)
{
    return a.nDueNs != b.nDueNs ? a.nDueNs > b.nDueNs : a.nOrder > b.nOrder;
}

}  // namespace

CAnswerQueue::CAnswerQueue(size_t nMaxAnswers, size_t nMaxBytes) : m_nMaxAnswers(nMaxAnswers), m_nMaxBytes(nMaxBytes)
{
}

bool CAnswerQueue::Push(int64_t nDueNs, const sockaddr_storage& to, std::string bytes)
{
    if (m_heap.size() >= m_nMaxAnswers || m_nBytes + bytes.size() > m_nMaxBytes)
        return false;
    m_nBytes += bytes.size();
    m_heap.push_back(Answer{nDueNs, m_nOrder++, to, std::move(bytes)});
    std::push_heap(m_heap.begin(), m_heap.end(), Later);
    return true;
}

bool CAnswerQueue::PopDue(int64_t nNowNs, Answer& answer)
{
    if (m_heap.empty() || m_heap.front().nDueNs > nNowNs)
        return false;
    std::pop_heap(m_heap.begin(), m_heap.end(), Later);
    answer = std::move(m_heap.back());
    m_heap.pop_back();
    m_nBytes -= answer.bytes.size();
    return true;
}
