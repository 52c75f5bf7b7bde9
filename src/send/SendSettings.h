#pragma once

#include <cstdint>
#include <string>

// What a run reads of the window's settings, copied when the run starts so
// that the worker never reads what the user-interface thread writes.
struct SendSettings {
    // The selector's index, low 8 bits: 0-6, or 255 when nothing was selected.
    uint8_t nMode = 0;
    std::string strDeviceInfo;
    std::string strTargetIp = "127.0.0.1";
    // Only the low 16 bits are used.
    int32_t nTargetPort = 51609;
    bool bLoop = true;
    bool bModifyTime = true;
};
