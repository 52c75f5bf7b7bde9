#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include "TempDir.h"
#include "dtls/CDtlsContext.h"
#include "dtls/CDtlsSession.h"
#include "figures/CHandshakeStats.h"

namespace {

const char kKey[] = "00112233445566778899aabbccddeeff";

// One end's link: what it sends waits here for the test to carry over.
struct Link : CDtlsSession::Link {
    std::deque<std::string> sent;
    std::string strIdentity = "1234567890";
    std::string strKey = std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16);

    bool SendDatagram(uint32_t, const char* pData, size_t nLength) override
    {
        sent.emplace_back(pData, nLength);
        return true;
    }
    bool PskFor(uint32_t, std::string& strIdentityOut, std::string& strKeyOut) override
    {
        strIdentityOut = strIdentity;
        strKeyOut = strKey;
        return true;
    }
    std::string PeerBytes(uint32_t) override { return "127.0.0.1:40000"; }
};

class CDtlsSessionTest : public testing::Test {
protected:
    std::unique_ptr<CDtlsContext> Context(CDtlsContext::Role nRole, bool bCookie = true,
                                          const std::string& strKeys = std::string("1234567890 ") + kKey)
    {
        CDtlsSettings settings;
        settings.bOn = true;
        settings.strPskFile = m_dir.Write("keys" + std::to_string(m_nFiles++) + ".txt", strKeys + "\n");
        settings.bCookie = bCookie;
        settings.nRetransmitNs = 50000000;
        std::unique_ptr<CDtlsContext> pContext;
        const CStatus made = CDtlsContext::Create(settings, nRole, pContext);
        EXPECT_TRUE(made.IsOk()) << made.Message();
        return pContext;
    }

    // Carries the datagrams each way until neither end has more; what the
    // server's and the client's records carried is kept.
    void Pump(CDtlsSession& client, Link& clientLink, CDtlsSession& server, Link& serverLink)
    {
        while (!clientLink.sent.empty() || !serverLink.sent.empty()) {
            while (!clientLink.sent.empty()) {
                const std::string datagram = clientLink.sent.front();
                clientLink.sent.pop_front();
                m_serverSteps.push_back(server.Feed(datagram.data(), datagram.size(), [this](const char* p, size_t n) {
                    m_strServerGot.append(p, n);
                }));
            }
            while (!serverLink.sent.empty()) {
                const std::string datagram = serverLink.sent.front();
                serverLink.sent.pop_front();
                m_clientSteps.push_back(client.Feed(datagram.data(), datagram.size(), [this](const char* p, size_t n) {
                    m_strClientGot.append(p, n);
                }));
            }
        }
    }

    // Drives handshakes' retransmissions until each has ended (or a
    // generous bound has passed); whether all failed.
    static bool RunOut(std::initializer_list<CDtlsSession*> sessions)
    {
        CHandshakeStats stats;
        size_t nFailed = 0;
        for (int i = 0; i < 2000 && nFailed < sessions.size(); ++i) {
            for (CDtlsSession* pSession : sessions) {
                if (pSession->TimerDue() && pSession->OnTimer(stats) == CDtlsSession::Step::kFailed)
                    ++nFailed;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return nFailed == sessions.size();
    }

    TempDir m_dir;
    int m_nFiles = 0;
    std::vector<CDtlsSession::Step> m_serverSteps;
    std::vector<CDtlsSession::Step> m_clientSteps;
    std::string m_strServerGot;
    std::string m_strClientGot;
};

// A first flight's answer: a HelloVerifyRequest (handshake type 3) with the
// cookie exchange, a ServerHello (2) without it.
unsigned char FirstAnswerType(const Link& server)
{
    return server.sent.empty() || server.sent.front().size() < 14
               ? 0
               : static_cast<unsigned char>(server.sent.front()[13]);
}

}  // namespace

// Both ends open with a pre-shared key, through the cookie exchange or
// without it; records carry each way exactly what was written, and the
// sessions are parked between them; a session kept from one that was let go
// resumes.
TEST_F(CDtlsSessionTest, APskHandshakeOpensCarriesRecordsAndResumes)
{
    for (const bool bCookie : {true, false}) {
        auto pClientContext = Context(CDtlsContext::Role::kClient);
        auto pServerContext = Context(CDtlsContext::Role::kServer, bCookie);
        Link clientLink;
        Link serverLink;
        CDtlsSession client(*pClientContext, clientLink, 0);
        CDtlsSession server(*pServerContext, serverLink, 0);
        ASSERT_EQ(client.Connect(nullptr), CDtlsSession::Step::kGoing);
        ASSERT_EQ(clientLink.sent.size(), 1u);
        server.Feed(clientLink.sent.front().data(), clientLink.sent.front().size(), [](const char*, size_t) {});
        clientLink.sent.pop_front();
        EXPECT_EQ(FirstAnswerType(serverLink), bCookie ? 3 : 2);
        Pump(client, clientLink, server, serverLink);
        ASSERT_TRUE(client.Open());
        ASSERT_TRUE(server.Open());
        EXPECT_FALSE(client.Resumed());

        const std::string message = "{\"IMEI\":\"1234567890\",\"n\":1}";
        ASSERT_TRUE(client.Write(message.data(), message.size()));
        ASSERT_EQ(clientLink.sent.size(), 1u);
        EXPECT_EQ(clientLink.sent.front().find("1234567890"), std::string::npos);
        ASSERT_TRUE(server.Write("ok", 2));
        Pump(client, clientLink, server, serverLink);
        EXPECT_EQ(m_strServerGot, message);
        EXPECT_EQ(m_strClientGot, "ok");
        // Between datagrams both ends are parked, and taken up again for
        // the next one.
        EXPECT_TRUE(client.Parked());
        EXPECT_TRUE(server.Parked());
        m_strServerGot.clear();
        m_strClientGot.clear();

        // Kept from a session let go without a close_notify, as a device
        // that loses power does.
        CDtlsSession::SavedSession pSaved;
        {
            CDtlsSession gone(*pClientContext, clientLink, 2);
            gone.Connect(nullptr);
            CDtlsSession goneServer(*pServerContext, serverLink, 2);
            Pump(gone, clientLink, goneServer, serverLink);
            ASSERT_TRUE(gone.Open());
            pSaved = gone.Saved();
        }
        ASSERT_FALSE(pSaved.empty());
        Link againLink;
        Link serverAgainLink;
        CDtlsSession again(*pClientContext, againLink, 1);
        CDtlsSession serverAgain(*pServerContext, serverAgainLink, 1);
        again.Connect(&pSaved);
        Pump(again, againLink, serverAgain, serverAgainLink);
        ASSERT_TRUE(again.Open());
        EXPECT_TRUE(again.Resumed());
        EXPECT_TRUE(serverAgain.Resumed());
        if (bCookie)
            continue;
        // The resumed client sent the last flight: it keeps it for the
        // server's retransmissions, while a handshake may last.
        ASSERT_TRUE(again.Write(message.data(), message.size()));
        EXPECT_FALSE(again.Parked());
        std::this_thread::sleep_for(std::chrono::nanoseconds(pClientContext->LongestHandshakeNs()));
        ASSERT_TRUE(again.Write(message.data(), message.size()));
        EXPECT_TRUE(again.Parked());
    }
}

// A server that does not know the identity says so with an alert, and the
// client fails at once on the keys; one that knows it under another key
// cannot read the client's Finished and says so: both fail on the keys.
TEST_F(CDtlsSessionTest, WrongKeysFailOnTheKeys)
{
    auto pClientContext = Context(CDtlsContext::Role::kClient);
    {
        auto pServerContext = Context(CDtlsContext::Role::kServer, true, std::string("someone ") + kKey);
        Link clientLink;
        Link serverLink;
        CDtlsSession client(*pClientContext, clientLink, 0);
        CDtlsSession server(*pServerContext, serverLink, 0);
        client.Connect(nullptr);
        Pump(client, clientLink, server, serverLink);
        ASSERT_FALSE(m_clientSteps.empty());
        EXPECT_EQ(m_clientSteps.back(), CDtlsSession::Step::kFailed);
        EXPECT_EQ(client.Cause(), CHandshakeCounts::kKey);
        EXPECT_EQ(client.FailureText(), "unknown_psk_identity");
    }
    auto pServerContext = Context(CDtlsContext::Role::kServer, true, "1234567890 ffeeddccbbaa99887766554433221100");
    Link clientLink;
    Link serverLink;
    CDtlsSession client(*pClientContext, clientLink, 0);
    CDtlsSession server(*pServerContext, serverLink, 0);
    client.Connect(nullptr);
    m_clientSteps.clear();
    Pump(client, clientLink, server, serverLink);
    ASSERT_FALSE(m_serverSteps.empty());
    EXPECT_EQ(m_serverSteps.back(), CDtlsSession::Step::kFailed);
    EXPECT_EQ(server.Cause(), CHandshakeCounts::kKey);
    ASSERT_FALSE(m_clientSteps.empty());
    EXPECT_EQ(m_clientSteps.back(), CDtlsSession::Step::kFailed);
    EXPECT_EQ(client.Cause(), CHandshakeCounts::kKey);
    EXPECT_EQ(client.FailureText(), "bad_record_mac");
}

// Nothing back through every retransmission is a timeout; something back
// that is not DTLS makes the same end a server without DTLS.
TEST_F(CDtlsSessionTest, SilenceIsATimeoutAndPlainAnswersAreNotDtls)
{
    auto pClientContext = Context(CDtlsContext::Role::kClient);
    Link silentLink;
    CDtlsSession silent(*pClientContext, silentLink, 0);
    silent.Connect(nullptr);
    Link plainLink;
    CDtlsSession plain(*pClientContext, plainLink, 1);
    plain.Connect(nullptr);
    const std::string answer = "{\"answer\":\"ok\"}";
    EXPECT_EQ(plain.Feed(answer.data(), answer.size(), [](const char*, size_t) {}), CDtlsSession::Step::kGoing);
    EXPECT_TRUE(RunOut({&silent, &plain}));
    EXPECT_EQ(silent.Cause(), CHandshakeCounts::kTimeout);
    // The first flight and each retransmission of it.
    EXPECT_EQ(silentLink.sent.size(), 1u + CDtlsSettings::kMaxRetransmissions);
    EXPECT_EQ(silent.Retransmissions(), CDtlsSettings::kMaxRetransmissions);
    EXPECT_EQ(plain.Cause(), CHandshakeCounts::kNotDtls);
}
