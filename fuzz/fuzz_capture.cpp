// The capture reader and the frame decoder. An input that starts with a
// capture's magic is read as a whole capture file; any other input is read
// twice: as one frame of the link type its first byte picks, decoded on its
// own, and as the records of a pcap file of that link type (a header made
// here in front of it), loaded as an import. No crash, no leak; a datagram
// lies inside its frame; every packet kept is a brace-framed message with
// its capture time and source.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "capture/CCaptureLoader.h"
#include "capture/CCaptureReader.h"
#include "capture/CFrameDecoder.h"

namespace {

const int kLinkTypes[] = {
    CFrameDecoder::kLinkNull, CFrameDecoder::kLinkEthernet, CFrameDecoder::kLinkRaw, CFrameDecoder::kLinkLoop,
    CFrameDecoder::kLinkSll,  CFrameDecoder::kLinkIpv4,     CFrameDecoder::kLinkIpv6, CFrameDecoder::kLinkSll2,
};

void CheckLoad(const CLoadResult& loaded)
{
    if (loaded.nStatus != CLoadResult::kOk)
        return;
    const PacketList& packets = *loaded.pPackets;
    FUZZ_CHECK(loaded.captureNs.size() == packets.size());
    FUZZ_CHECK(loaded.captureSource.size() == packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        FUZZ_CHECK(packets[i].length >= 2 && packets[i].data[0] == '{' &&
                   packets[i].data[packets[i].length - 1] == '}');
        FUZZ_CHECK(loaded.captureSource[i] < loaded.captureSources.size());
    }
    FUZZ_CHECK(!loaded.captureNs.empty() && loaded.captureNs[0] == 0);
}

void DecodeFrame(int nLinkType, const uint8_t* pData, size_t nSize, size_t nOriginal)
{
    // A copy of exactly the frame's bytes, so that a read past it is caught.
    std::vector<uint8_t> frame(pData, pData + nSize);
    CFrameDecoder::Datagram datagram;
    if (CFrameDecoder::Decode(nLinkType, frame.data(), frame.size(), nOriginal, datagram) ==
        CFrameDecoder::Kind::kUdp) {
        FUZZ_CHECK(datagram.pPayload >= frame.data() && datagram.pPayload + datagram.nPayload <= frame.data() + nSize);
        FUZZ_CHECK(CFrameDecoder::AddressText(datagram.source) != "?");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (CCaptureReader::IsCaptureMagic(pData, nSize)) {
        CheckLoad(CCaptureLoader::LoadMemory(pData, nSize, std::nullopt));
        return 0;
    }
    if (nSize < 2)
        return 0;
    const int nLinkType = kLinkTypes[pData[0] % (sizeof kLinkTypes / sizeof kLinkTypes[0])];
    // The second byte's low bits: how much longer the frame was on the wire.
    DecodeFrame(nLinkType, pData + 2, nSize - 2, nSize - 2 + (pData[1] & 3) * 16);

    // A pcap header (microseconds, little-endian, snap length 65535) in
    // front of the bytes: libpcap reads them as records.
    std::vector<uint8_t> file(24);
    const uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, static_cast<uint32_t>(nLinkType)};
    std::memcpy(file.data(), header, sizeof header);
    file.insert(file.end(), pData + 2, pData + nSize);
    CheckLoad(CCaptureLoader::LoadMemory(file.data(), file.size(), std::nullopt));
    return 0;
}
