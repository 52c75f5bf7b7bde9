#pragma once

#include <memory>
#include <string>
#include <vector>

#include "packet/CMessageTemplate.h"
#include "packet/Packet.h"

// Makes a fleet's templates from packets: each packet parsed once and
// written as its datagrams go out, with slots for the device's IMEI, the
// counter, the stamp's time and the generated values. Also writes the same
// datagrams the direct way (members set, then the step), the reference the
// templates are held to.
//
// Holds a parser, so one object per thread; the packet bytes are only read.
class CTemplateBuilder {
public:
    // A root member that takes generated values (rule i of the list is slot
    // rule i; the first member of the name decides), what the values are
    // and how many decimals they get. The member keeps its form: an integer
    // stays an integer, a number with a decimal point one (as yyjson writes
    // it), a string holding a decimal number such a string (with that many
    // decimals), other strings take the values' texts.
    struct Vary {
        std::string strMember;
        bool bNumbers = true;   // every value is a number
        bool bTexts = false;    // the values have texts (pick, cycle)
        int nDecimals = -1;     // -1: as many as the member's value has
    };

    // What became of a vary rule's member in a packet.
    struct VaryMatch {
        enum class Kind : uint8_t { kMissing, kSlot, kWrongType };
        Kind nKind = Kind::kMissing;
        std::string strValue;  // kWrongType: what the member holds ("a boolean")
    };

    // How a fleet writes a packet: its step, whether the root's first "IMEI"
    // member takes the device's IMEI (a string stays a string, a number a
    // number, other values stay as they are), and the root member that counts
    // (none when empty; the first member of that name counts when it is a
    // string of 1 to 19 decimal digits or an integer); and the root member
    // replies are matched by (none when empty; its first of that name); the
    // vary rules, in order.
    struct Rule {
        CMessageTemplate::Kind nKind = CMessageTemplate::Kind::kStamp;
        bool bSetImei = true;
        std::string strCounter;
        std::string strMatch;
        std::vector<Vary> vary;
    };

    CTemplateBuilder();
    ~CTemplateBuilder();
    CTemplateBuilder(const CTemplateBuilder&) = delete;
    CTemplateBuilder& operator=(const CTemplateBuilder&) = delete;

    // The packet's template, whose datagrams are what RewriteDirect writes
    // for the same values. False when the packet does not parse. pMatches,
    // when given, gets an entry per vary rule.
    bool Make(const Packet& packet, const Rule& rule, CMessageTemplate& out,
              std::vector<VaryMatch>* pMatches = nullptr);
    // The members set to the values, then the rule's step written as the
    // stamp and make-up steps write it (the raw kind: the compact form).
    // False when the packet does not parse.
    bool RewriteDirect(const Packet& packet, const Rule& rule, const CMessageTemplate::Values& values,
                       std::string& out);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
