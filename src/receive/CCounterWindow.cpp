#include "receive/CCounterWindow.h"

#include <bitset>

namespace {

uint64_t Zeros(uint64_t nBits)
{
    return std::bitset<64>(~nBits).count();
}

}  // namespace

CCounterWindow::Step CCounterWindow::Observe(uint64_t nCounter)
{
    Step step;
    if (!m_bOpen) {
        m_bOpen = true;
        m_nHighest = m_nFirst = nCounter;
        // The numbers below the first are not waited for.
        m_nSeen = ~uint64_t{0};
        ++m_nExpected;
        return step;
    }
    if (nCounter > m_nHighest) {
        const uint64_t nMove = nCounter - m_nHighest;
        if (nMove >= kWidth) {
            // The whole window leaves, and the numbers between it and the
            // new one's window never enter it.
            step.nLost = Zeros(m_nSeen) + (nMove - kWidth);
            m_nSeen = 1;
        } else {
            step.nLost = Zeros(m_nSeen | (~uint64_t{0} >> nMove));
            m_nSeen = (m_nSeen << nMove) | 1;
        }
        m_nHighest = nCounter;
        m_nExpected += nMove;
        step.nSeen = Seen::kNext;
        return step;
    }
    const uint64_t nBelow = m_nHighest - nCounter;
    if (nCounter < m_nFirst) {
        step.nSeen = Seen::kReordered;
    } else if (nBelow >= kWidth) {
        step.nSeen = Seen::kReordered;
    } else if ((m_nSeen >> nBelow) & 1) {
        step.nSeen = Seen::kDuplicate;
    } else {
        m_nSeen |= uint64_t{1} << nBelow;
        step.nSeen = Seen::kReordered;
    }
    return step;
}

uint64_t CCounterWindow::Close()
{
    if (!m_bOpen)
        return 0;
    m_bOpen = false;
    return Zeros(m_nSeen);
}
