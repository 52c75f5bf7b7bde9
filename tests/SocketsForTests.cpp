#include "net/CSocketLibrary.h"

// Windows Sockets must be started before a test opens a socket; the tests'
// main comes from GoogleTest, so a static object holds the library.
static const CSocketLibrary theTestSockets;
