#pragma once

#include <QIcon>

// The program icon (resource 128): the window's, the taskbar's and the About
// box's, in sizes from 16 to 256 pixels. User-interface thread only.
class CTovrikIcon {
public:
    static QIcon Icon();
};
