#include "CBraceModel.h"

CBraceModel::CBraceModel(int64_t nInitSize, int64_t nGrowStep)
    : m_nInitSize(nInitSize), m_nCapacity(nInitSize), m_nGrowStep(nGrowStep)
{
}

void CBraceModel::Append(const char* src, int64_t n)
{
    if (src == nullptr || n <= 0)
        return;
    const int64_t nLength = static_cast<int64_t>(m_strBytes.size());
    if (nLength + n > m_nCapacity)
        m_nCapacity += n + (m_nGrowStep - n % m_nGrowStep);
    m_strBytes.append(src, static_cast<size_t>(n));
}

int64_t CBraceModel::FindPacket()
{
    const size_t nLength = m_strBytes.size();
    if (nLength == 0)
        return 0;
    if (nLength <= 4) {
        m_strBytes.clear();
        return 0;
    }
    size_t nOpen = std::string::npos;
    for (size_t i = 0; i + 1 < nLength; ++i) {
        if (m_strBytes[i] == '{') {
            nOpen = i;
            break;
        }
    }
    if (nOpen == std::string::npos) {
        m_strBytes.clear();
        return 0;
    }
    m_strBytes.erase(0, nOpen);
    for (size_t j = 1; j < m_strBytes.size(); ++j) {
        if (m_strBytes[j] == '{') {
            m_strBytes.erase(0, j);
            return 0;
        }
        if (m_strBytes[j] == '}')
            return static_cast<int64_t>(j + 1);
    }
    return 0;
}

std::string CBraceModel::TakeFront(int64_t n)
{
    std::string strPacket = m_strBytes.substr(0, static_cast<size_t>(n));
    m_strBytes.erase(0, static_cast<size_t>(n));
    if (m_strBytes.empty() && m_nCapacity > m_nInitSize)
        m_nCapacity = m_nInitSize;
    return strPacket;
}
