#include "CBraceModel.h"

CBraceModel::CBraceModel(int64_t nInitSize, int64_t nGrowStep)
    : m_nInitSize(nInitSize), m_nCapacity(nInitSize), m_nGrowStep(nGrowStep)
{
}

void CBraceModel::Append(const char* src, int64_t n)
{
    if (src == nullptr || n <= 0)
        return;
    const int64_t nLength = static_cast<int64_t>(m_strBytes.size() - m_nFront);
    if (nLength + n > m_nCapacity)
        m_nCapacity += n + (m_nGrowStep - n % m_nGrowStep);
    m_strBytes.append(src, static_cast<size_t>(n));
}

int64_t CBraceModel::FindPacket()
{
    const size_t nLength = m_strBytes.size() - m_nFront;
    if (nLength == 0)
        return 0;
    if (nLength <= 4) {
        Drop(nLength);
        return 0;
    }
    const char* pData = m_strBytes.data() + m_nFront;
    size_t nOpen = nLength;
    for (size_t i = 0; i + 1 < nLength; ++i) {
        if (pData[i] == '{') {
            nOpen = i;
            break;
        }
    }
    if (nOpen == nLength) {
        Drop(nLength);
        return 0;
    }
    Drop(nOpen);
    pData = m_strBytes.data() + m_nFront;
    const size_t nRest = m_strBytes.size() - m_nFront;
    for (size_t j = 1; j < nRest; ++j) {
        if (pData[j] == '{') {
            Drop(j);
            return 0;
        }
        if (pData[j] == '}')
            return static_cast<int64_t>(j + 1);
    }
    return 0;
}

std::string CBraceModel::TakeFront(int64_t n)
{
    std::string strPacket = m_strBytes.substr(m_nFront, static_cast<size_t>(n));
    Drop(static_cast<size_t>(n));
    if (m_nFront == m_strBytes.size() && m_nCapacity > m_nInitSize)
        m_nCapacity = m_nInitSize;
    return strPacket;
}

void CBraceModel::Drop(size_t n)
{
    m_nFront += n;
    if (m_nFront == m_strBytes.size()) {
        m_strBytes.clear();
        m_nFront = 0;
    }
}
