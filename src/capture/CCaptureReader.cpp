#include "capture/CCaptureReader.h"

#include <cstdio>

bool CCaptureReader::IsCaptureMagic(const uint8_t* p, size_t n)
{
    if (n < 4)
        return false;
    const uint32_t nMagic = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    switch (nMagic) {
    case 0xA1B2C3D4:
    case 0xD4C3B2A1:
    case 0xA1B23C4D:
    case 0x4D3CB2A1:
    case 0x0A0D0D0A:
        return true;
    default:
        return false;
    }
}

bool CCaptureReader::IsCapture(const std::string& strPath)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (pFile == nullptr)
        return false;
    uint8_t magic[4] = {};
    const size_t n = std::fread(magic, 1, sizeof magic, pFile);
    std::fclose(pFile);
    return IsCaptureMagic(magic, n);
}
