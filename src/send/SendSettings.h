#pragma once

#include <cstdint>
#include <string>

#include "text/TovrikTexts.h"

// What a run reads of the window's settings, copied when the run starts so
// that the worker never reads what the user-interface thread writes.
struct SendSettings {
    // The selector's index, low 8 bits: 0-6, or 255 when nothing was selected.
    uint8_t nMode = 0;
    std::string strDeviceInfo;
    std::string strTargetIp = TovrikTexts::kDefaultTarget;
    // Only the low 16 bits are used.
    int32_t nTargetPort = TovrikTexts::kDefaultPort;
    bool bLoop = true;
    bool bModifyTime = true;
};
