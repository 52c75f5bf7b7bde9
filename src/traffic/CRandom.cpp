#include "traffic/CRandom.h"

#include <chrono>
#include <cmath>
#include <random>

#include "text/CDecimal.h"
#include "traffic/COptionText.h"

namespace {

uint64_t Mix(uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr double kTwoPi = 6.283185307179586476925;

}  // namespace

CStatus CRandom::ReadSeed(std::string_view text, uint64_t& nSeed)
{
    if (text.size() > 20 || !CDecimal::Read(text, UINT64_MAX, nSeed))
        return COptionText::Refuse(text, "is not a seed (decimal digits, 0 to 18446744073709551615)");
    return CStatus();
}

uint64_t CRandom::FreshSeed()
{
    std::random_device device;
    const uint64_t nBits = (static_cast<uint64_t>(device()) << 32) ^ device();
    return nBits ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

uint64_t CRandom::Bits(uint64_t nSeed, uint64_t nDevice, uint64_t nPacket, uint32_t nPurpose)
{
    uint64_t h = Mix(nSeed + 0x9E3779B97F4A7C15ULL * (static_cast<uint64_t>(nPurpose) + 1));
    h = Mix(h + 0xD1B54A32D192ED03ULL * (nDevice + 1));
    return Mix(h + 0x8CB92BA72F3D8DD7ULL * (nPacket + 1));
}

double CRandom::Unit(uint64_t nBits)
{
    return static_cast<double>(nBits >> 11) * 0x1.0p-53;
}

double CRandom::OpenUnit(uint64_t nBits)
{
    return static_cast<double>((nBits >> 11) + 1) * 0x1.0p-53;
}

double CRandom::Normal(uint64_t nBits1, uint64_t nBits2)
{
    return std::sqrt(-2.0 * std::log(OpenUnit(nBits1))) * std::cos(kTwoPi * Unit(nBits2));
}

double CRandom::Exponential(uint64_t nBits)
{
    return -std::log(OpenUnit(nBits));
}
