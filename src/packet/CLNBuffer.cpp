#include "packet/CLNBuffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kScanWindow = 4096;

}  // namespace

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

    // The first '{' or '}' after the opening brace decides. Each window is
    // searched with memchr for '}' and then, up to it, for '{'; the window
    // keeps a call's cost bounded by the distance to the first brace.
    pData = Data();
    const size_t nRest = static_cast<size_t>(Length());
    for (size_t nFrom = 1; nFrom < nRest; nFrom += kScanWindow) {
        const char* pWindow = pData + nFrom;
        const size_t nWindow = std::min(kScanWindow, nRest - nFrom);
        const char* pClose = static_cast<const char*>(std::memchr(pWindow, '}', nWindow));
        const size_t nBefore = pClose ? static_cast<size_t>(pClose - pWindow) : nWindow;
        const char* pReopen = static_cast<const char*>(std::memchr(pWindow, '{', nBefore));
        if (pReopen != nullptr) {
            DropFront(static_cast<int>(pReopen - pData));
            return 0;
        }
        if (pClose != nullptr)
            return static_cast<int>(pClose - pData) + 1;
    }
    return 0;
}

bool CLNBuffer::IsSettled(int32_t nClosed) const
{
    return Length() >= 5 && nClosed >= 2 && nClosed <= Length() &&
           std::memchr(Data(), '{', static_cast<size_t>(nClosed) - 1) != nullptr;
}
