#include "TzGuard.h"

#include <ctime>

void TzGuard::Set(const char* pszZone)
{
    // An empty value removes the variable from the runtime's environment.
    _putenv_s("TZ", pszZone != nullptr ? pszZone : "");
    _tzset();
}
