#include "packet/CMessageTemplate.h"

#include <cstring>

#include "packet/CMatchKey.h"
#include "text/CDecimal.h"

namespace {

char* WriteQuoted(char* p, uint64_t n, int nWidth)
{
    *p++ = '"';
    p = CDecimal::WritePadded(p, n, nWidth);
    *p++ = '"';
    return p;
}

}  // namespace

CMessageTemplate CMessageTemplate::FromBytes(std::string_view bytes)
{
    CMessageTemplate result;
    result.AppendLiteral(bytes);
    return result;
}

void CMessageTemplate::AppendSlot(Slot slot)
{
    m_pieces.push_back(Piece{static_cast<uint32_t>(m_strBytes.size()), slot});
}

void CMessageTemplate::SetCounterBase(uint64_t nBase, bool bSigned, int nWidth)
{
    m_nCounterBase = nBase;
    m_bCounterSigned = bSigned;
    m_nCounterWidth = nWidth;
}

bool CMessageTemplate::HasSlot(Slot slot) const
{
    for (const Piece& piece : m_pieces) {
        if (piece.slot == slot)
            return true;
    }
    return false;
}

size_t CMessageTemplate::Capacity(const Values& values) const
{
    size_t nSize = m_strBytes.size();
    for (const Piece& piece : m_pieces) {
        switch (piece.slot) {
        case Slot::kImeiString:
        case Slot::kImeiNumber:
            nSize += values.imeiJson.empty()
                         ? kMaxNumberText + static_cast<size_t>(values.nImeiWidth > 0 ? values.nImeiWidth : 0)
                         : values.imeiJson.size();
            break;
        case Slot::kCounterDigits:
        case Slot::kCounterInt:
            nSize += kMaxNumberText + static_cast<size_t>(m_nCounterWidth);
            break;
        case Slot::kTime:
            nSize += values.time.size();
            break;
        }
    }
    return nSize;
}

size_t CMessageTemplate::Write(const Values& values, char* pOut) const
{
    char* p = pOut;
    uint32_t nDone = 0;
    for (const Piece& piece : m_pieces) {
        std::memcpy(p, m_strBytes.data() + nDone, piece.nLiteralEnd - nDone);
        p += piece.nLiteralEnd - nDone;
        nDone = piece.nLiteralEnd;
        if ((piece.slot == Slot::kImeiString || piece.slot == Slot::kImeiNumber) && !values.imeiJson.empty()) {
            std::memcpy(p, values.imeiJson.data(), values.imeiJson.size());
            p += values.imeiJson.size();
            continue;
        }
        switch (piece.slot) {
        case Slot::kImeiString:
            p = WriteQuoted(p, values.nImei, values.nImeiWidth);
            break;
        case Slot::kImeiNumber:
            p = CDecimal::WritePadded(p, values.nImei, 0);
            break;
        case Slot::kCounterDigits:
            p = WriteQuoted(p, m_nCounterBase + values.nCounterStep, m_nCounterWidth);
            break;
        case Slot::kCounterInt: {
            // Two's complement wrap-around, as the counter's 64 bits give it.
            const uint64_t nValue = m_nCounterBase + values.nCounterStep;
            if (m_bCounterSigned && static_cast<int64_t>(nValue) < 0) {
                *p++ = '-';
                p = CDecimal::WritePadded(p, 0u - nValue, 0);
            } else {
                p = CDecimal::WritePadded(p, nValue, 0);
            }
            break;
        }
        case Slot::kTime:
            std::memcpy(p, values.time.data(), values.time.size());
            p += values.time.size();
            break;
        }
    }
    std::memcpy(p, m_strBytes.data() + nDone, m_strBytes.size() - nDone);
    p += m_strBytes.size() - nDone;
    return static_cast<size_t>(p - pOut);
}

std::string CMessageTemplate::Text(const Values& values) const
{
    std::string text(Capacity(values), '\0');
    text.resize(Write(values, &text[0]));
    return text;
}

void CMessageTemplate::SetMatch(MatchSource source, uint64_t nLiteralKey)
{
    m_nMatch = source;
    m_nMatchKey = nLiteralKey;
}

bool CMessageTemplate::MatchKey(const Values& values, uint64_t& nKey) const
{
    char text[kMaxNumberText + CDecimal::kMaxDigits];
    switch (m_nMatch) {
    case MatchSource::kNone:
        return false;
    case MatchSource::kLiteral:
        nKey = m_nMatchKey;
        return true;
    case MatchSource::kTime:
        nKey = CMatchKey::OfString(values.time);
        return true;
    case MatchSource::kCounter:
        break;
    }
    const uint64_t nValue = m_nCounterBase + values.nCounterStep;
    if (HasSlot(Slot::kCounterDigits)) {
        nKey = CMatchKey::OfString(
            std::string_view(text, static_cast<size_t>(CDecimal::WritePadded(text, nValue, m_nCounterWidth) - text)));
        return true;
    }
    char* p = text;
    const bool bNegative = m_bCounterSigned && static_cast<int64_t>(nValue) < 0;
    if (bNegative)
        *p++ = '-';
    p = CDecimal::WritePadded(p, bNegative ? 0u - nValue : nValue, 0);
    nKey = CMatchKey::OfInteger(std::string_view(text, static_cast<size_t>(p - text)));
    return true;
}
