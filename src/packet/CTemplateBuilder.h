#pragma once

#include <memory>
#include <string>

#include "packet/CMessageTemplate.h"
#include "packet/Packet.h"

// Makes a fleet's templates from packets: each packet parsed once and
// written as its datagrams go out, with slots for the device's IMEI, the
// counter and the stamp's time. Also writes the same datagrams the direct way
// (members set, then the step), the reference the templates are held to.
//
// Holds a parser, so one object per thread; the packet bytes are only read.
class CTemplateBuilder {
public:
    // How a fleet writes a packet: its step, whether the root's first "IMEI"
    // member takes the device's IMEI (a string stays a string, a number a
    // number, other values stay as they are), and the root member that counts
    // (none when empty; the first member of that name counts when it is a
    // string of 1 to 19 decimal digits or an integer); and the root member
    // replies are matched by (none when empty; its first of that name).
    struct Rule {
        CMessageTemplate::Kind nKind = CMessageTemplate::Kind::kStamp;
        bool bSetImei = true;
        std::string strCounter;
        std::string strMatch;
    };

    CTemplateBuilder();
    ~CTemplateBuilder();
    CTemplateBuilder(const CTemplateBuilder&) = delete;
    CTemplateBuilder& operator=(const CTemplateBuilder&) = delete;

    // The packet's template, whose datagrams are what RewriteDirect writes
    // for the same values. False when the packet does not parse.
    bool Make(const Packet& packet, const Rule& rule, CMessageTemplate& out);
    // The members set to the values, then the rule's step written as the
    // stamp and make-up steps write it (the raw kind: the compact form).
    // False when the packet does not parse.
    bool RewriteDirect(const Packet& packet, const Rule& rule, const CMessageTemplate::Values& values,
                       std::string& out);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
