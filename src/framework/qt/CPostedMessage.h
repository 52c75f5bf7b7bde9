#pragma once

#include <QEvent>

#include <cstdint>

// A message posted to a window's thread: the message number and its two
// parameters, plus the tag of whoever posted it (the window uses it to tell
// one run's notices from another's). Queued, never sent; Qt delivers posted
// events to one receiver in posting order.
class CPostedMessage : public QEvent {
public:
    CPostedMessage(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag);

    // The event type shared by every posted message.
    static QEvent::Type EventType();

    int Message() const { return m_nMessage; }
    uint32_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }
    uint64_t Tag() const { return m_nTag; }

private:
    int m_nMessage;
    uint32_t m_wParam;
    intptr_t m_lParam;
    uint64_t m_nTag;
};
