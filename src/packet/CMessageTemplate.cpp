#include "packet/CMessageTemplate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "packet/CJsonText.h"
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

// The value rounded to nDecimals decimals, as fixed-point text without a
// sign when it rounds to zero; answers the end.
char* WriteFixed(char* p, double dValue, int nDecimals)
{
    char* const pStart = p;
    p = std::to_chars(p, p + CMessageTemplate::kMaxGeneratedText, dValue, std::chars_format::fixed, nDecimals).ptr;
    if (*pStart == '-') {
        bool bZero = true;
        for (const char* q = pStart + 1; q < p; ++q)
            bZero = bZero && (*q == '0' || *q == '.');
        if (bZero) {
            std::memmove(pStart, pStart + 1, static_cast<size_t>(p - pStart - 1));
            --p;
        }
    }
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
    m_pieces.push_back(Piece{static_cast<uint32_t>(m_strBytes.size()), slot, 0, Form::kInteger, 0});
}

void CMessageTemplate::SetCounterBase(uint64_t nBase, bool bSigned, int nWidth)
{
    m_nCounterBase = nBase;
    m_bCounterSigned = bSigned;
    m_nCounterWidth = nWidth;
}

void CMessageTemplate::AppendGenerated(uint8_t nRule, Form nForm, int nDecimals)
{
    m_pieces.push_back(Piece{static_cast<uint32_t>(m_strBytes.size()), Slot::kGenerated, nRule, nForm,
                             static_cast<uint8_t>(nDecimals)});
}

char* CMessageTemplate::WriteGenerated(char* p, Form nForm, int nDecimals, const Generated& value)
{
    const double dValue = !std::isfinite(value.dNumber)                ? 0.0
                          : value.dNumber > kMaxGeneratedMagnitude  ? kMaxGeneratedMagnitude
                          : value.dNumber < -kMaxGeneratedMagnitude ? -kMaxGeneratedMagnitude
                                                                    : value.dNumber;
    switch (nForm) {
    case Form::kInteger:
        return std::to_chars(p, p + kMaxGeneratedText, static_cast<int64_t>(std::llround(dValue))).ptr;
    case Form::kDecimal: {
        // The double nearest to the rounded decimal text, written as yyjson
        // writes it ("35.7", "37.0").
        char fixed[kMaxGeneratedText];
        const char* const pEnd = WriteFixed(fixed, dValue, std::min(nDecimals, kMaxDecimals));
        double dRounded = 0;
        std::from_chars(fixed, pEnd, dRounded);
        return CJsonText::WriteDouble(p, dRounded + 0.0);
    }
    case Form::kDecimalString:
        *p++ = '"';
        p = WriteFixed(p, dValue, std::min(nDecimals, kMaxDecimals));
        *p++ = '"';
        return p;
    case Form::kText:
        break;
    }
    *p++ = '"';
    if (!value.text.empty())
        std::memcpy(p, value.text.data(), value.text.size());
    p += value.text.size();
    *p++ = '"';
    return p;
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
        case Slot::kGenerated:
            nSize += piece.nForm == Form::kText ? values.pGenerated[piece.nRule].text.size() + 2 : kMaxGeneratedText;
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
        case Slot::kGenerated:
            p = WriteGenerated(p, piece.nForm, piece.nDecimals, values.pGenerated[piece.nRule]);
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
