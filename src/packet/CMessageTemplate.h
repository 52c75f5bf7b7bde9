#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A device message written once in its sent form, with slots where the values
// of one device and one send go: the IMEI, the counter member and the stamp's
// "time". Writing a datagram is then a few copies of the bytes between the
// slots. CTemplateBuilder builds templates; this class knows no JSON beyond how
// to write the slot values.
//
// A plain value: build it on one thread, then any number of threads may call
// the const members at the same time.
class CMessageTemplate {
public:
    // The step a datagram goes through: the packet written compactly, the
    // stamp step, or the make-up step.
    enum class Kind : uint8_t { kRaw, kStamp, kMakeUp };

    enum class Slot : uint8_t {
        kImeiString,     // "digits", zero-padded to the width
        kImeiNumber,     // digits, no padding
        kCounterDigits,  // "digits" of base + step, padded to the base's width
        kCounterInt,     // base + step as an integer
        kTime,           // the formatted time text, as it is
    };

    // The values of one datagram.
    struct Values {
        uint64_t nImei = 0;
        int nImeiWidth = 0;
        // When not empty, the IMEI member's whole value, already JSON text.
        std::string_view imeiJson;
        uint64_t nCounterStep = 0;
        std::string_view time;
    };

    // Where a datagram's value of the member replies are matched by comes
    // from: nowhere (the message has no such root member), a literal of the
    // message, the counter, or the stamp's time.
    enum class MatchSource : uint8_t { kNone, kLiteral, kCounter, kTime };

    // The longest text a number slot writes: 20 digits, a sign, two quotes.
    static constexpr size_t kMaxNumberText = 24;

    // A template without slots that writes exactly these bytes.
    static CMessageTemplate FromBytes(std::string_view bytes);

    // Building, in order of the written text.
    void AppendLiteral(std::string_view bytes) { m_strBytes.append(bytes.data(), bytes.size()); }
    void AppendSlot(Slot slot);
    // The counter's value in the packet: a digit string of nWidth digits, or
    // an integer (bSigned for a negative one).
    void SetCounterBase(uint64_t nBase, bool bSigned, int nWidth);

    bool HasSlot(Slot slot) const;
    // The member replies are matched by: its source, and for a literal its
    // key (CMatchKey).
    void SetMatch(MatchSource source, uint64_t nLiteralKey = 0);
    MatchSource Match() const { return m_nMatch; }
    // The key of that member's value in the datagram of these values (the
    // counter's as the counter slot writes it); false without the member.
    bool MatchKey(const Values& values, uint64_t& nKey) const;
    // Bytes Write may need for these values.
    size_t Capacity(const Values& values) const;
    // Writes the datagram to pOut, which holds at least Capacity(values)
    // bytes; answers its length.
    size_t Write(const Values& values, char* pOut) const;
    // The same into a string (tests and tools).
    std::string Text(const Values& values) const;

private:
    struct Piece {
        uint32_t nLiteralEnd;  // the slot comes after m_strBytes[..nLiteralEnd)
        Slot slot;
    };

    std::string m_strBytes;
    std::vector<Piece> m_pieces;
    uint64_t m_nCounterBase = 0;
    bool m_bCounterSigned = false;
    int m_nCounterWidth = 0;
    MatchSource m_nMatch = MatchSource::kNone;
    uint64_t m_nMatchKey = 0;
};
