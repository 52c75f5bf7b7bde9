// The import readings. The whole input is taken three ways:
// - as a "time" text: CTimeOfDay::ReadKey against sscanf with the same pattern;
// - as one packet: ReadImport against a reading of the parsed document made
//   here (root object, an "IMEI" member, the first "time" member decides);
// - as a file: ImportBytes against the framing reference and ReadImport, with
//   the index holding the list's own packets under their keys in file order;
//   and Import of a file with those bytes (a memfd) giving the same.
#include <simdjson.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "CBraceModel.h"
#include "FuzzCheck.h"
#include "load/CFileLoader.h"
#include "packet/CDeviceMessage.h"
#include "packet/CReceiveBuffer.h"
#include "time/CTimeOfDay.h"

namespace {

using Result = CLoadResult;

// sscanf stores a %d that overflows a long as a clamped value, which no
// 32-bit wrapping reproduces; texts with such numbers are compared on
// success only.
bool HasHugeNumber(const std::string& strText)
{
    size_t nRun = 0;
    for (const char c : strText) {
        nRun = std::isdigit(static_cast<unsigned char>(c)) ? nRun + 1 : 0;
        if (nRun >= 18)
            return true;
    }
    return false;
}

void CheckTimeText(std::string_view text)
{
    // sscanf ends at the first zero byte; std::string keeps one after the end.
    const std::string strText(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const bool bScanned =
        std::sscanf(strText.c_str(), "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) == 6;
    int64_t nKey = 0;
    const bool bRead = CTimeOfDay::ReadKey(text, nKey);
    FUZZ_CHECK(bRead == bScanned);
    if (bRead && !HasHugeNumber(strText)) {
        const int64_t nWide = int64_t{hour} * 3600 + int64_t{minute} * 60 + int64_t{second};
        FUZZ_CHECK(nKey == static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(nWide))));
    }
}

CDeviceMessage::ImportReading ReadHere(simdjson::dom::parser& parser, const char* pData, size_t nLength)
{
    CDeviceMessage::ImportReading reading;
    simdjson::dom::element root;
    if (parser.parse(pData, nLength).get(root))
        return reading;
    simdjson::dom::object object;
    if (root.get_object().get(object))
        return reading;
    bool bImei = false;
    bool bTimeSeen = false;
    std::string_view time;
    bool bTimeIsString = false;
    for (simdjson::dom::key_value_pair member : object) {
        if (member.key == "IMEI")
            bImei = true;
        if (member.key == "time" && !bTimeSeen) {
            bTimeSeen = true;
            bTimeIsString = member.value.get_string().get(time) == simdjson::SUCCESS;
        }
    }
    if (!bImei)
        return reading;
    reading.bKeep = true;
    if (bTimeIsString)
        reading.bHasKey = CTimeOfDay::ReadKey(time, reading.nKey);
    return reading;
}

void CheckPacket(CDeviceMessage& message, simdjson::dom::parser& parser, const char* pData, size_t nLength)
{
    const CDeviceMessage::ImportReading reading = message.ReadImport(Packet{pData, static_cast<int32_t>(nLength)});
    const CDeviceMessage::ImportReading expected = ReadHere(parser, pData, nLength);
    FUZZ_CHECK(reading.bKeep == expected.bKeep);
    FUZZ_CHECK(reading.bHasKey == expected.bHasKey);
    if (reading.bHasKey)
        FUZZ_CHECK(reading.nKey == expected.nKey);
    // What the import keeps, the sending steps can rewrite.
    if (reading.bKeep) {
        std::string strOut;
        FUZZ_CHECK(message.MakeUp(Packet{pData, static_cast<int32_t>(nLength)}, strOut));
    }
}

void CheckFile(CDeviceMessage& message, const char* pData, size_t nLength)
{
    CBraceModel model(CReceiveBuffer::kDefaultSize, CReceiveBuffer::kDefaultSize);
    model.Append(pData, static_cast<int64_t>(nLength));
    std::vector<std::string> kept;
    std::map<int64_t, std::vector<size_t>> index;
    for (int64_t n = model.FindPacket(); n != 0; n = model.FindPacket()) {
        const std::string strPacket = model.TakeFront(n);
        const CDeviceMessage::ImportReading reading =
            message.ReadImport(Packet{strPacket.data(), static_cast<int32_t>(strPacket.size())});
        if (!reading.bKeep)
            continue;
        if (reading.bHasKey)
            index[reading.nKey].push_back(kept.size());
        kept.push_back(strPacket);
    }

    const Result result = CFileLoader::ImportBytes(pData, nLength);
    if (kept.empty()) {
        FUZZ_CHECK(result.nStatus == Result::kNoPackets);
        FUZZ_CHECK(result.pPackets == nullptr && result.pIndex == nullptr);
        return;
    }
    FUZZ_CHECK(result.nStatus == Result::kOk);
    FUZZ_CHECK(result.pPackets != nullptr && result.pIndex != nullptr);
    const PacketList& packets = *result.pPackets;
    FUZZ_CHECK(packets.size() == kept.size());
    for (size_t i = 0; i < kept.size(); ++i)
        FUZZ_CHECK(std::string(packets[i].data, static_cast<size_t>(packets[i].length)) == kept[i]);
    FUZZ_CHECK(result.pIndex->size() == index.size());
    for (const auto& [nKey, positions] : index) {
        const auto found = result.pIndex->find(nKey);
        FUZZ_CHECK(found != result.pIndex->end());
        FUZZ_CHECK(found->second.size() == positions.size());
        for (size_t i = 0; i < positions.size(); ++i) {
            // The same block as the list's, not a copy.
            FUZZ_CHECK(found->second[i].data == packets[positions[i]].data);
            FUZZ_CHECK(found->second[i].length == packets[positions[i]].length);
        }
    }
}

// The same packets with the same keys, in the same order.
void CheckSameImport(const Result& result, const Result& expected)
{
    FUZZ_CHECK(result.nStatus == expected.nStatus);
    if (expected.nStatus != Result::kOk)
        return;
    const PacketList& packets = *result.pPackets;
    FUZZ_CHECK(packets.size() == expected.pPackets->size());
    for (size_t i = 0; i < packets.size(); ++i) {
        const Packet packet = (*expected.pPackets)[i];
        FUZZ_CHECK(std::string(packets[i].data, static_cast<size_t>(packets[i].length)) ==
                   std::string(packet.data, static_cast<size_t>(packet.length)));
    }
    FUZZ_CHECK(result.pIndex->size() == expected.pIndex->size());
    for (auto it = result.pIndex->begin(), itExpected = expected.pIndex->begin(); it != result.pIndex->end();
         ++it, ++itExpected) {
        FUZZ_CHECK(it->first == itExpected->first && it->second.size() == itExpected->second.size());
        for (size_t i = 0; i < it->second.size(); ++i)
            FUZZ_CHECK(std::string(it->second[i].data, static_cast<size_t>(it->second[i].length)) ==
                       std::string(itExpected->second[i].data, static_cast<size_t>(itExpected->second[i].length)));
    }
}

void CheckFileRead(int hFile, const char* pData, size_t nLength)
{
    FUZZ_CHECK(ftruncate(hFile, 0) == 0);
    FUZZ_CHECK(pwrite(hFile, pData, nLength, 0) == static_cast<ssize_t>(nLength));
    const Result result = CFileLoader::Import("/proc/self/fd/" + std::to_string(hFile));
    CheckSameImport(result, CFileLoader::ImportBytes(pData, nLength));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDeviceMessage message;
    static simdjson::dom::parser parser;
    const char* pData = reinterpret_cast<const char*>(data);
    CheckTimeText(std::string_view(pData, size));
    CheckPacket(message, parser, pData, size);
    CheckFile(message, pData, size);
    // A file in memory, so that no run leaves files behind.
    static const int hFile = memfd_create("fuzz_import", MFD_CLOEXEC);
    FUZZ_CHECK(hFile >= 0);
    CheckFileRead(hFile, pData, size);
    return 0;
}
