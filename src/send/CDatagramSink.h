#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Where the worker's datagrams go: one call, one datagram of exactly nLength
// bytes to the target. Answers whether it went out; the worker counts the
// message as sent either way. Called on the worker's thread.
class CDatagramSink {
public:
    virtual ~CDatagramSink() = default;
    virtual bool Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength) = 0;
};
