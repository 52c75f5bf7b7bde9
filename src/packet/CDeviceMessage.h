#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "packet/CMessageTemplate.h"
#include "packet/Packet.h"

class CDateTime;

// The JSON work done on device messages: the stamp step, the make-up step and
// the import readings. Parsing is strict standard JSON (valid UTF-8, nothing
// but white space after the root, nesting at most 1024 deep, integers within
// 64 bits); a packet that fails it yields no text and is not kept on import.
// Written text is compact: the root's members in their order, each written as
// the library writes it, the appended member last.
//
// Holds a parser, so one object per thread; the packet bytes are only read.
class CDeviceMessage {
public:
    struct ImportReading {
        bool bKeep = false;    // parses, root is an object with an "IMEI" member
        bool bHasKey = false;  // the first "time" member is a string giving a key
        int64_t nKey = 0;      // its time-of-day key
    };

    CDeviceMessage();
    ~CDeviceMessage();
    CDeviceMessage(const CDeviceMessage&) = delete;
    CDeviceMessage& operator=(const CDeviceMessage&) = delete;

    // Every root "time" member removed, then "time" with the value formatted as
    // "%Y-%m-%d %H:%M:%S" appended. False (out untouched) when the packet does
    // not parse or storage runs out. A root that is not an object is written
    // back unchanged.
    bool Stamp(const Packet& packet, const CDateTime& when, std::string& out);
    // "make_up":1 appended; existing members, "make_up" included, are kept.
    bool MakeUp(const Packet& packet, std::string& out);
    ImportReading ReadImport(const Packet& packet);

    // How a fleet writes a packet: its step, whether the root's first "IMEI"
    // member takes the device's IMEI (a string stays a string, a number a
    // number, other values stay as they are), and the root member that counts
    // (none when empty; the first member of that name counts when it is a
    // string of 1 to 19 decimal digits or an integer).
    struct TemplateRule {
        CMessageTemplate::Kind nKind = CMessageTemplate::Kind::kStamp;
        bool bSetImei = true;
        std::string strCounter;
    };
    // Parses the packet once and writes it as a template whose datagrams are
    // what RewriteDirect writes for the same values. False when the packet
    // does not parse.
    bool MakeTemplate(const Packet& packet, const TemplateRule& rule, CMessageTemplate& out);
    // The members set to the values, then the rule's step written as Stamp
    // and MakeUp write it (the raw kind: the compact form). False when the
    // packet does not parse.
    // The value of the root's first "IMEI" member, written compactly. False
    // when the packet does not parse or has no such member.
    bool ReadImei(const Packet& packet, std::string& strValue);
    bool RewriteDirect(const Packet& packet, const TemplateRule& rule, const CMessageTemplate::Values& values,
                       std::string& out);

    // Reads "%d-%d-%d %d:%d:%d" by the scanf rules (leading white space and a
    // sign before each number, the blank matching any run of white space or
    // none, anything after the sixth number ignored, numbers wrapping as
    // 32-bit values) and gives hour * 3600 + minute * 60 + second in 32-bit
    // arithmetic, widened with its sign. False unless all six numbers are read.
    static bool ReadTimeOfDayKey(std::string_view text, int64_t& nKey);
    // hour * 3600 + minute * 60 + second in 32-bit arithmetic (wrapping),
    // widened with its sign.
    static int64_t TimeOfDayKey(int32_t nHour, int32_t nMinute, int32_t nSecond);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
