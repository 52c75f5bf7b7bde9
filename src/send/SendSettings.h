#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "schedule/SendModes.h"
#include "text/TovrikTexts.h"

// What a run reads of the window's settings, copied when the run starts so
// that the worker never reads what the user-interface thread writes.
struct SendSettings {
    // None when nothing was selected: the ticks run on and nothing is sent.
    std::optional<SendModes::Mode> mode = SendModes::kEverySecond;
    std::string strDeviceInfo;
    std::string strTargetIp = TovrikTexts::kDefaultTarget;
    // Only the low 16 bits are used.
    int32_t nTargetPort = TovrikTexts::kDefaultPort;
    bool bLoop = true;
    bool bModifyTime = true;
};
