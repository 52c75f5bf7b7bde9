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
};
