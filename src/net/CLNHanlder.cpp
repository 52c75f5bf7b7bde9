#include "net/CLNHanlder.h"

int CLNHanlder::OnPacket(const char*, int, const sockaddr*, int)
{
    return 0;
}
