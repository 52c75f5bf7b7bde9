// The floor of a capture's load: libpcap's own record loop over the file,
// touching each frame's last byte and nothing else.
//   tovrik_capture_floor FILE
#include <pcap/pcap.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tovrik_capture_floor FILE\n");
        return 64;
    }
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pCapture = pcap_open_offline(argv[1], error);
    if (pCapture == nullptr) {
        std::fprintf(stderr, "%s\n", error);
        return 2;
    }
    pcap_pkthdr* pHeader = nullptr;
    const u_char* pData = nullptr;
    unsigned long long nFrames = 0;
    unsigned nCheck = 0;
    while (pcap_next_ex(pCapture, &pHeader, &pData) == 1) {
        ++nFrames;
        if (pHeader->caplen > 0)
            nCheck += pData[pHeader->caplen - 1];
    }
    pcap_close(pCapture);
    std::printf("%llu frames (check %u)\n", nFrames, nCheck);
    return 0;
}
