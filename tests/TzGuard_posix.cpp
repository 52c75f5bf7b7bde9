#include "TzGuard.h"

#include <ctime>

void TzGuard::Set(const char* pszZone)
{
    if (pszZone != nullptr)
        setenv("TZ", pszZone, 1);
    else
        unsetenv("TZ");
    tzset();
}
