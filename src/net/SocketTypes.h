#pragma once

// The platform's socket, thread and event handle types and the few socket
// constants that differ between Windows Sockets and POSIX, so that the
// classes over them keep one header for both.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <sys/types.h>

using SocketHandle = SOCKET;
using SocketLength = int;
using ThreadHandle = HANDLE;
using ThreadResult = DWORD;
using EventHandle = HANDLE;

inline constexpr int kSocketCloseOnExec = 0;
inline constexpr int kSocketNoSignal = 0;
inline constexpr int kSocketInvalidArgument = WSAEINVAL;
inline constexpr int kSocketAddressInUse = WSAEADDRINUSE;
inline constexpr SocketHandle kSocketInvalid = INVALID_SOCKET;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>

using SocketHandle = int;
using SocketLength = socklen_t;
using ThreadHandle = pthread_t;
using ThreadResult = void*;
using EventHandle = int;

inline constexpr int kSocketCloseOnExec = SOCK_CLOEXEC;
inline constexpr int kSocketNoSignal = MSG_NOSIGNAL;
inline constexpr int kSocketInvalidArgument = EINVAL;
inline constexpr int kSocketAddressInUse = EADDRINUSE;
inline constexpr SocketHandle kSocketInvalid = -1;
#endif
