#include "cli/ReceiveProcess.h"

#include <chrono>
#include <utility>

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"

uint16_t TryBind(int nFamily, uint16_t nPort)
{
    sockaddr_storage address{};
    SocketLength nLength = 0;
    CTargetAddress::Resolve(nFamily == AF_INET6 ? "::1" : "127.0.0.1", nFamily, nPort, address, nLength);
    const SocketHandle hSocket = socket(nFamily, SOCK_DGRAM, 0);
    uint16_t nBound = 0;
    // The port is where both families keep it.
    if (bind(hSocket, reinterpret_cast<const sockaddr*>(&address), nLength) == 0 &&
        getsockname(hSocket, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
        nBound = ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    CSocketLibrary::CloseSocket(hSocket);
    return nBound;
}

ReceiveProcess::ReceiveProcess(int nFamily, std::vector<std::string> args, CliProcess::Stop stop)
    : m_nFamily(nFamily), m_args(std::move(args)), m_stop(stop)
{
    Start();
}

ReceiveProcess::~ReceiveProcess()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
}

void ReceiveProcess::Start()
{
    m_nPort = TryBind(m_nFamily, 0);
    std::vector<std::string> args = m_args;
    const std::string strHost = m_nFamily == AF_INET6 ? "[::1]" : "127.0.0.1";
    args.insert(args.begin(), {"receive", "-l", strHost + ":" + std::to_string(m_nPort)});
    m_bEnded = false;
    m_thread = std::thread([this, args] {
        m_run = CliProcess::Run(args, [this] { return m_bStopRequested.load(); }, m_stop);
        m_bEnded = true;
    });
}

::testing::AssertionResult ReceiveProcess::WaitListening()
{
    using Clock = std::chrono::steady_clock;
    constexpr int kTries = 3;
    const auto cannotListen = [this] {
        return m_run.nExit == 1 && m_run.err.find("cannot listen") != std::string::npos;
    };
    for (int nTry = 1;; ++nTry) {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < end && !m_bEnded) {
            // Under wine a closed socket may keep its port a little while:
            // the port taken is the receiver's unless it ends soon after,
            // unable to bind it.
            if (TryBind(m_nFamily, m_nPort) == 0) {
                const auto settled = Clock::now() + std::chrono::seconds(1);
                while (Clock::now() < settled && !m_bEnded)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (!m_bEnded || !cannotListen())
                    return ::testing::AssertionSuccess();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!m_bEnded) {
            RequestStop();
            m_thread.join();
            return ::testing::AssertionFailure() << "tovrik-cli receive is not listening on port " << m_nPort
                                                 << " after 20 s; stopped, it ended with exit " << m_run.nExit
                                                 << ": " << m_run.err;
        }
        m_thread.join();
        if (nTry == kTries || !cannotListen())
            return ::testing::AssertionFailure()
                   << "tovrik-cli receive ended with exit " << m_run.nExit << ": " << m_run.err;
        Start();
    }
}

void ReceiveProcess::RequestStop()
{
    m_bStopRequested = true;
}

const CliRun& ReceiveProcess::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_run;
}
