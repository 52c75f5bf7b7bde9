#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "cli/CliProcess.h"
#include "cli/ReceiveProcess.h"
#include "net/SocketTypes.h"

namespace {

// A member's whole-number value in a stats file: the first after strAfter.
long long CountAfter(const std::string& json, const std::string& strAfter, const std::string& strMember)
{
    const size_t nAt = json.find(strAfter);
    const size_t nMember = json.find("\"" + strMember + "\":", nAt == std::string::npos ? 0 : nAt);
    return nMember == std::string::npos ? -1 : std::stoll(json.substr(nMember + strMember.size() + 3));
}

}  // namespace

// A fleet of DTLS devices comes back from an outage all at once: every
// device handshakes again, resuming its session, and the receiver takes each
// one's device info message anew in its session; no handshake fails on
// either side.
TEST(DtlsStormTest, AFleetBackFromAnOutageResumesEverySession)
{
    TempDir dir;
    const std::string secret = dir.Write("secret", "a secret the fleet and the receiver share\n");
    const std::string received = dir.Path() + "/received.json";
    ReceiveProcess receive(AF_INET, {"--dtls", "--psk-derive", secret, "-q", "--stats-json", received},
                           CliProcess::Stop::kInterrupt);
    ASSERT_TRUE(receive.WaitListening());
    const std::string stats = dir.Path() + "/stats.json";
    const CliRun fleet = CliProcess::Run({"-p", std::to_string(receive.Port()), "--devices", "1000", "--spread",
                                          "--dtls", "--psk-derive", secret, "--outage", "2s,1s,return=0s", "--seed",
                                          "3", "-q", "--stop-after", "5", "--stats-json", stats});
    receive.RequestStop();
    receive.Wait();
    ASSERT_EQ(fleet.nExit, 0) << fleet.err;
    const std::string json = TempDir::Read(stats);
    EXPECT_EQ(CountAfter(json, "\"dtls_handshakes\"", "started"), 2000) << json.substr(json.find("\"dtls_"));
    EXPECT_EQ(CountAfter(json, "\"dtls_handshakes\"", "completed"), 2000);
    EXPECT_EQ(CountAfter(json, "\"dtls_handshakes\"", "resumed"), 1000);
    for (const char* pszCause : {"key", "not_dtls", "timeout", "refused", "other"})
        EXPECT_EQ(CountAfter(json, "\"dtls_handshakes\"", pszCause), 0) << pszCause;
    EXPECT_EQ(CountAfter(json, "\"dtls_handshakes\"", "unsent"), 0);

    const std::string server = TempDir::Read(received);
    EXPECT_EQ(CountAfter(server, "\"dtls_handshakes\"", "completed"), 2000) << server.substr(server.find("\"dtls_"));
    EXPECT_EQ(CountAfter(server, "\"dtls_handshakes\"", "resumed"), 1000);
    EXPECT_EQ(CountAfter(server, "\"dtls_handshakes\"", "timeout"), 0);
    EXPECT_EQ(CountAfter(server, "", "device_info"), 2000);
}
