#include "capture/CCaptureReader.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>

struct CCaptureReader::Impl {
    pcap_t* pCapture = nullptr;
    bpf_program program{};
    bool bFiltered = false;

    ~Impl()
    {
        if (bFiltered)
            pcap_freecode(&program);
        if (pCapture != nullptr)
            pcap_close(pCapture);
    }
};

CCaptureReader::CCaptureReader() = default;

CCaptureReader::~CCaptureReader() = default;

bool CCaptureReader::Available()
{
    return true;
}

CStatus CCaptureReader::Open(const std::string& strPath)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pCapture = pcap_open_offline_with_tstamp_precision(strPath.c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
    if (pCapture == nullptr)
        return CStatus::Error(strPath + ": " + error);
    m_pImpl = std::make_unique<Impl>();
    m_pImpl->pCapture = pCapture;
    return CStatus();
}

CStatus CCaptureReader::OpenMemory(const void* pData, size_t nLength)
{
    std::FILE* pFile = fmemopen(const_cast<void*>(pData), nLength, "rb");
    if (pFile == nullptr)
        return CStatus::FromErrno("capture in memory", errno);
    char error[PCAP_ERRBUF_SIZE] = {};
    // libpcap closes the file with the capture, or here when it refuses it.
    pcap_t* pCapture = pcap_fopen_offline_with_tstamp_precision(pFile, PCAP_TSTAMP_PRECISION_NANO, error);
    if (pCapture == nullptr) {
        std::fclose(pFile);
        return CStatus::Error(std::string("capture in memory: ") + error);
    }
    m_pImpl = std::make_unique<Impl>();
    m_pImpl->pCapture = pCapture;
    return CStatus();
}

CStatus CCaptureReader::SetFilter(const std::string& strFilter)
{
    if (!m_pImpl)
        return CStatus::Error("no capture is open");
    if (m_pImpl->bFiltered) {
        pcap_freecode(&m_pImpl->program);
        m_pImpl->bFiltered = false;
    }
    if (pcap_compile(m_pImpl->pCapture, &m_pImpl->program, strFilter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        return CStatus::Error("'" + strFilter + "': " + pcap_geterr(m_pImpl->pCapture));
    m_pImpl->bFiltered = true;
    return CStatus();
}

int CCaptureReader::LinkType() const
{
    return m_pImpl ? pcap_datalink(m_pImpl->pCapture) : -1;
}

CCaptureReader::Next CCaptureReader::Read(Frame& frame)
{
    if (!m_pImpl)
        return Next::kEnd;
    if (std::FILE* pFile = pcap_file(m_pImpl->pCapture))
        m_nOffset = ftello(pFile);
    pcap_pkthdr* pHeader = nullptr;
    const u_char* pData = nullptr;
    const int nRead = pcap_next_ex(m_pImpl->pCapture, &pHeader, &pData);
    if (nRead == PCAP_ERROR_BREAK)
        return Next::kEnd;
    if (nRead != 1) {
        m_strError = pcap_geterr(m_pImpl->pCapture);
        return Next::kDamaged;
    }
    // Nanosecond precision was asked for: tv_usec holds nanoseconds.
    frame.nNs = static_cast<int64_t>(pHeader->ts.tv_sec) * 1000000000 + pHeader->ts.tv_usec;
    frame.pData = pData;
    frame.nCaptured = pHeader->caplen;
    frame.nOriginal = pHeader->len;
    return Next::kFrame;
}

bool CCaptureReader::Passes(const Frame& frame) const
{
    if (!m_pImpl || !m_pImpl->bFiltered)
        return true;
    pcap_pkthdr header{};
    header.caplen = frame.nCaptured;
    header.len = frame.nOriginal;
    return pcap_offline_filter(&m_pImpl->program, &header, frame.pData) != 0;
}
