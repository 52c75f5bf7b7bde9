#pragma once

#include <string>
#include <vector>

#include "load/CLoadResult.h"

// The packets of a load, as texts in list order.
inline std::vector<std::string> LoadedTexts(const CLoadResult& result)
{
    std::vector<std::string> texts;
    if (result.pPackets) {
        for (size_t i = 0; i < result.pPackets->size(); ++i) {
            const Packet packet = (*result.pPackets)[i];
            texts.emplace_back(packet.data, static_cast<size_t>(packet.length));
        }
    }
    return texts;
}
