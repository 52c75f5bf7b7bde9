#include "framework/qt/CPostedMessage.h"

CPostedMessage::CPostedMessage(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag)
    : QEvent(EventType()), m_nMessage(nMessage), m_wParam(wParam), m_lParam(lParam), m_nTag(nTag)
{
}

QEvent::Type CPostedMessage::EventType()
{
    static const QEvent::Type nType = static_cast<QEvent::Type>(QEvent::registerEventType());
    return nType;
}
