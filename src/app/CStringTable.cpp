#include "app/CStringTable.h"

#include "app/Resource.h"
#include "send/TovrikTexts.h"

std::string CStringTable::Load(int nId)
{
    switch (nId) {
    case IDS_ABOUTBOX:
        return "关于 Tovrik(&A)...";
    case IDP_SOCKETS_INIT_FAILED:
        return TovrikTexts::kSocketInitFailed;
    default:
        return std::string();
    }
}
