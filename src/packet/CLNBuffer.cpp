#include "packet/CLNBuffer.h"

#include <cstring>

int CLNBuffer::FindPacket()
{
    const int32_t nLength = Length();
    if (nLength == 0)
        return 0;
    // Fewer than 5 bytes can never be handed out as a packet.
    if (nLength <= 4) {
        Empty();
        return 0;
    }
    // The last byte is left out of the search for the opening brace.
    const char* pData = Data();
    const void* pOpen = std::memchr(pData, '{', static_cast<size_t>(nLength) - 1);
    if (pOpen == nullptr) {
        Empty();
        return 0;
    }
    DropFront(static_cast<int>(static_cast<const char*>(pOpen) - pData));

    pData = Data();
    const int32_t nRest = Length();
    for (int32_t j = 1; j < nRest; ++j) {
        if (pData[j] == '{') {
            DropFront(j);
            return 0;
        }
        if (pData[j] == '}')
            return j + 1;
    }
    return 0;
}
