#include "base/CStatus.h"

#include <cstring>
#include <utility>

CStatus CStatus::Error(std::string strMessage, int nCode)
{
    CStatus status;
    status.m_nCode = nCode != 0 ? nCode : kFailed;
    status.m_strMessage = std::move(strMessage);
    return status;
}

CStatus CStatus::FromErrno(const std::string& strWhat, int nErrno)
{
    return Error(strWhat + ": " + std::strerror(nErrno), nErrno);
}
