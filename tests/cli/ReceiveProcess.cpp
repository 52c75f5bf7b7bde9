#include "cli/ReceiveProcess.h"

#include <chrono>

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

ReceiveProcess::ReceiveProcess(int nFamily, std::vector<std::string> args, int nStopAfterMs, CliProcess::Stop stop)
    : m_nFamily(nFamily), m_nPort(TryBind(nFamily, 0))
{
    const std::string strHost = nFamily == AF_INET6 ? "[::1]" : "127.0.0.1";
    args.insert(args.begin(), {"receive", "-l", strHost + ":" + std::to_string(m_nPort)});
    m_thread = std::thread([this, args, nStopAfterMs, stop] {
        m_run = CliProcess::Run(args, nStopAfterMs, stop);
        m_bEnded = true;
    });
}

ReceiveProcess::~ReceiveProcess()
{
    if (m_thread.joinable())
        m_thread.join();
}

::testing::AssertionResult ReceiveProcess::WaitListening() const
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < end) {
        if (TryBind(m_nFamily, m_nPort) == 0)
            return ::testing::AssertionSuccess();
        if (m_bEnded)
            return ::testing::AssertionFailure()
                   << "tovrik-cli receive ended with exit " << m_run.nExit << ": " << m_run.err;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ::testing::AssertionFailure() << "tovrik-cli receive is not listening on port " << m_nPort << " after 20 s";
}

const CliRun& ReceiveProcess::Wait()
{
    m_thread.join();
    return m_run;
}
