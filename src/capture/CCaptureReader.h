#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/CStatus.h"

// Reads a packet capture (pcap or pcapng) frame by frame through libpcap, so
// that a file of any size is held only a frame at a time. Captures are read
// on Linux only: elsewhere Open fails with a message that says so. One
// reader, one thread.
class CCaptureReader {
public:
    struct Frame {
        int64_t nNs = 0;  // capture time, nanoseconds since 1970
        const uint8_t* pData = nullptr;  // valid until the next Read
        uint32_t nCaptured = 0;
        uint32_t nOriginal = 0;
    };

    enum class Next { kFrame, kEnd, kDamaged };

    CCaptureReader();
    ~CCaptureReader();
    CCaptureReader(const CCaptureReader&) = delete;
    CCaptureReader& operator=(const CCaptureReader&) = delete;

    // The first bytes of a capture file: the pcap magics (microsecond and
    // nanosecond, either byte order) or a pcapng section header.
    static bool IsCaptureMagic(const uint8_t* p, size_t n);
    // The file's first bytes are a capture's; false for an unreadable file.
    static bool IsCapture(const std::string& strPath);
    // Whether this build reads captures.
    static bool Available();

    CStatus Open(const std::string& strPath);
    // The bytes are read in place and must outlive the reader.
    CStatus OpenMemory(const void* pData, size_t nLength);
    // Compiles a filter in libpcap's syntax for the capture's link type; the
    // error names the filter and says why it does not compile.
    CStatus SetFilter(const std::string& strFilter);

    int LinkType() const;
    // kDamaged: the file ends inside a frame or holds a broken block;
    // Error() says what libpcap found, Offset() where that frame began.
    Next Read(Frame& frame);
    // True without a filter.
    bool Passes(const Frame& frame) const;
    const std::string& Error() const { return m_strError; }
    int64_t Offset() const { return m_nOffset; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
    std::string m_strError;
    int64_t m_nOffset = 0;
};
