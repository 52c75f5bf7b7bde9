#include "packet/CReceiveBuffer.h"

#include <climits>
#include <cstring>

CReceiveBuffer::CReceiveBuffer(int32_t nInitSize, int32_t nGrowStep)
    : m_nCapacity(nInitSize > 0 ? nInitSize : kDefaultSize),
      m_pData(new char[static_cast<size_t>(m_nCapacity)]),
      m_nInitSize(m_nCapacity),
      m_nGrowStep(nGrowStep > 0 ? nGrowStep : kDefaultSize)
{
}

CReceiveBuffer::~CReceiveBuffer() = default;

int CReceiveBuffer::Append(const char* src, int n)
{
    if (src == nullptr)
        return 0;
    char* pRoom = BeginAppend(n);
    if (pRoom == nullptr)
        return 0;
    std::memcpy(pRoom, src, static_cast<size_t>(n));
    EndAppend(n);
    return n;
}

char* CReceiveBuffer::BeginAppend(int n)
{
    if (n <= 0)
        return nullptr;
    const int64_t nNeeded = static_cast<int64_t>(m_nLength) + n;
    if (nNeeded > m_nCapacity) {
        // The added room is n rounded up to the next multiple of the step
        // strictly above it, whatever the current length.
        const int64_t nNewCapacity =
            static_cast<int64_t>(m_nCapacity) + n + (m_nGrowStep - (n % m_nGrowStep));
        if (nNewCapacity > INT32_MAX)
            return nullptr;
        std::unique_ptr<char[]> pNew(new char[static_cast<size_t>(nNewCapacity)]);
        if (m_nLength > 0)
            std::memcpy(pNew.get(), Data(), static_cast<size_t>(m_nLength));
        m_pData = std::move(pNew);
        m_nCapacity = static_cast<int32_t>(nNewCapacity);
        m_nRead = 0;
    } else if (m_nRead + nNeeded > m_nCapacity) {
        // Enough room overall, but not behind the read offset: compact now.
        std::memmove(m_pData.get(), Data(), static_cast<size_t>(m_nLength));
        m_nRead = 0;
    }
    return m_pData.get() + m_nRead + m_nLength;
}

void CReceiveBuffer::EndAppend(int n)
{
    if (n > 0 && static_cast<int64_t>(m_nRead) + m_nLength + n <= m_nCapacity)
        m_nLength += n;
}

int CReceiveBuffer::FindPacket()
{
    return 0;
}

std::unique_ptr<char[]> CReceiveBuffer::TakeFront(int n)
{
    if (n < 1 || n > m_nLength)
        return nullptr;
    std::unique_ptr<char[]> pBlock(new char[static_cast<size_t>(n)]);
    std::memcpy(pBlock.get(), Data(), static_cast<size_t>(n));
    Consume(n);
    return pBlock;
}

bool CReceiveBuffer::Consume(int n)
{
    if (n < 1 || n > m_nLength)
        return false;
    if (n < m_nLength) {
        DropFront(n);
        return true;
    }
    Empty();
    if (m_nCapacity > m_nInitSize) {
        m_pData.reset(new char[static_cast<size_t>(m_nInitSize)]);
        m_nCapacity = m_nInitSize;
    }
    return true;
}

void CReceiveBuffer::Empty()
{
    m_nLength = 0;
    m_nRead = 0;
}

void CReceiveBuffer::DropFront(int n)
{
    if (n <= 0)
        return;
    if (n >= m_nLength) {
        Empty();
        return;
    }
    m_nRead += n;
    m_nLength -= n;
}
