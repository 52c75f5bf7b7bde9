#pragma once

#include "base/CStatus.h"
#include "net/SocketTypes.h"

// A socket filter that accepts nothing, for sockets whose incoming datagrams
// nobody reads. Where bpf() may load programs, one eBPF program, loaded once
// and shared by every socket it is attached to (SO_ATTACH_BPF); the kernel
// keeps a copy of a classic filter per socket (about 6 KiB each, a page of
// it vmalloc'ed), of the shared one a small reference. Where bpf() is
// refused (unprivileged use is often disabled) or the attach fails, the
// classic filter (SO_ATTACH_FILTER).
//
// Owns the loaded program's descriptor and closes it when destroyed; the
// sockets keep the program as long as they live. Attach may be called from
// any thread.
class CDropAllFilter {
public:
    // Loads the shared program.
    CDropAllFilter();
    // Takes hProgram, a loaded socket filter program, or -1 for the classic
    // filter only.
    explicit CDropAllFilter(int hProgram);
    ~CDropAllFilter();
    CDropAllFilter(const CDropAllFilter&) = delete;
    CDropAllFilter& operator=(const CDropAllFilter&) = delete;

    // Whether the shared program was loaded.
    bool IsShared() const { return m_hProgram >= 0; }
    [[nodiscard]] CStatus Attach(SocketHandle hSocket) const;

    // Loads "return 0" as a socket filter program: its descriptor, or -1.
    static int LoadProgram();

private:
    int m_hProgram;
};
