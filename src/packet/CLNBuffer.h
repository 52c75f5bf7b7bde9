#pragma once

#include "packet/CReceiveBuffer.h"

// Brace framing: a packet runs from a '{' byte through the first '}' byte
// after it. Works on single bytes: no nesting, no notion of JSON strings.
class CLNBuffer : public CReceiveBuffer {
public:
    using CReceiveBuffer::CReceiveBuffer;

    // Drops anything in front of the first '{' (searched in all but the last
    // byte) and empties a buffer of 4 bytes or fewer. A second '{' before the
    // closing '}' drops the bytes in front of it and answers 0 for this call.
    int FindPacket() override;

    // For input appended piece by piece: true when FindPacket's answer, and
    // what it drops, are the same whatever is appended later. nClosed counts
    // the bytes up to and including the buffer's last '}' (0 when it holds
    // none). That is so when the buffer holds at least 5 bytes and a '{'
    // before that '}': the search for the packet's end then stops inside the
    // buffer. Cutting only while this holds, and to the end once all is
    // appended, gives what one Append of everything would give.
    bool IsSettled(int32_t nClosed) const;
};
