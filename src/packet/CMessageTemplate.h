#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A device message written once in its sent form, with slots where the values
// of one device and one send go: the IMEI, the counter member, the stamp's
// "time" and generated values (--vary). Writing a datagram is then a few copies of the bytes between the
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
        kGenerated,      // a generated value, in the form of the member it replaces
    };

    // How a generated value is written, keeping the form of the member's
    // value in the packet.
    enum class Form : uint8_t {
        kInteger,        // a JSON integer
        kDecimal,        // a JSON number with a decimal point or an exponent, as yyjson writes doubles
        kDecimalString,  // a string of a decimal number with a fixed number of decimals ("35.7")
        kText,           // a string holding the value's text
    };

    // A generated value: the number, and for values that are texts (the
    // choices of pick and cycle) the text as JSON string content.
    struct Generated {
        double dNumber = 0;
        std::string_view text;
    };

    // The values of one datagram.
    struct Values {
        uint64_t nImei = 0;
        int nImeiWidth = 0;
        // When not empty, the IMEI member's whole value, already JSON text.
        std::string_view imeiJson;
        uint64_t nCounterStep = 0;
        std::string_view time;
        // Rule i's value of this datagram; needed when a generated slot is.
        const Generated* pGenerated = nullptr;
    };

    // Where a datagram's value of the member replies are matched by comes
    // from: nowhere (the message has no such root member), a literal of the
    // message, the counter, or the stamp's time.
    enum class MatchSource : uint8_t { kNone, kLiteral, kCounter, kTime };

    // The longest text a number slot writes: 20 digits, a sign, two quotes.
    static constexpr size_t kMaxNumberText = 24;
    // The most decimals a generated number has, the largest size it takes
    // (beyond it, it is written as that) and the longest text it writes.
    static constexpr int kMaxDecimals = 9;
    static constexpr double kMaxGeneratedMagnitude = 1e15;
    static constexpr size_t kMaxGeneratedText = 40;

    // A template without slots that writes exactly these bytes.
    static CMessageTemplate FromBytes(std::string_view bytes);

    // Building, in order of the written text.
    void AppendLiteral(std::string_view bytes) { m_strBytes.append(bytes.data(), bytes.size()); }
    void AppendSlot(Slot slot);
    // The counter's value in the packet: a digit string of nWidth digits, or
    // an integer (bSigned for a negative one).
    void SetCounterBase(uint64_t nBase, bool bSigned, int nWidth);
    // A generated slot: rule nRule's value written in the form, with
    // nDecimals decimals (kDecimal, kDecimalString).
    void AppendGenerated(uint8_t nRule, Form nForm, int nDecimals);
    // A generated value as a slot of that form writes it: a number (kept
    // within kMaxGeneratedMagnitude, 0 when not finite) rounded to nDecimals
    // decimals (kDecimal: then written as yyjson writes the double nearest
    // to that; kInteger: to a whole number), or the text in quotes. Answers the end; at most kMaxGeneratedText bytes, or the
    // text's length and two, are written.
    static char* WriteGenerated(char* p, Form nForm, int nDecimals, const Generated& value);

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
        // A generated slot's rule, form and decimals.
        uint8_t nRule;
        Form nForm;
        uint8_t nDecimals;
    };

    std::string m_strBytes;
    std::vector<Piece> m_pieces;
    uint64_t m_nCounterBase = 0;
    bool m_bCounterSigned = false;
    int m_nCounterWidth = 0;
    MatchSource m_nMatch = MatchSource::kNone;
    uint64_t m_nMatchKey = 0;
};
