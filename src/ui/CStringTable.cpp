#include "ui/CStringTable.h"

#include "text/TovrikTexts.h"
#include "ui/Resource.h"

std::string CStringTable::Load(int nId)
{
    switch (nId) {
    case IDS_ABOUTBOX:
        return "关于 Tovrik(&A)...";
    case IDP_SOCKETS_INIT_FAILED:
        return TovrikTexts::kSocketInitFailed;
    case IDS_START:
        return kStart;
    case IDS_STOP:
        return kStop;
    case IDS_DATA_TOO_LARGE:
        return "数据过大, 无法解析.";
    case IDS_NO_SEND_THREAD:
        return "无法创建发送线程, 发送没有开始.";
    default:
        return std::string();
    }
}
