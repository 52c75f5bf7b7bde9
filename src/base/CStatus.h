#pragma once

#include <string>
#include <utility>

// The outcome of an operation that can fail: success, or a code and a
// message that says what failed and why, worded for the operator. The code is
// the system's error number when a system call failed (errno, a socket
// error), kFailed otherwise. A plain value, to be looked at: dropping one is
// a compiler warning.
//
// The one error convention of the core: every operation that can fail
// answers a CStatus, parsers of what a user wrote with Invalid (a message
// that names the text as given). The only exceptions are the endpoint's
// operations whose 1/0 answers the window's design fixes (CEventSocket's,
// CUDPSocket::Create), each a thin wrapper where a CStatus form exists.
class [[nodiscard]] CStatus {
public:
    static constexpr int kFailed = -1;
    // The request itself cannot be carried out as it was put (a usage error
    // of the command line): nothing of the system failed.
    static constexpr int kInvalid = -2;

    // Success.
    CStatus() = default;
    // A failure; a code of 0 becomes kFailed.
    static CStatus Error(std::string strMessage, int nCode = kFailed);
    // "strWhat: " and the system's words for nErrno, which is the code.
    static CStatus FromErrno(const std::string& strWhat, int nErrno);

    static CStatus Invalid(std::string strMessage) { return Error(std::move(strMessage), kInvalid); }

    bool IsOk() const { return m_nCode == 0; }
    bool IsInvalid() const { return m_nCode == kInvalid; }
    // 0 for success.
    int Code() const { return m_nCode; }
    // Empty for success.
    const std::string& Message() const { return m_strMessage; }

private:
    int m_nCode = 0;
    std::string m_strMessage;
};
