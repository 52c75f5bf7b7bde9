#include "fleet/CDropAllFilter.h"

#include <linux/bpf.h>
#include <linux/filter.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

CDropAllFilter::CDropAllFilter() : CDropAllFilter(LoadProgram()) {}

CDropAllFilter::CDropAllFilter(int hProgram) : m_hProgram(hProgram) {}

CDropAllFilter::~CDropAllFilter()
{
    if (m_hProgram >= 0)
        close(m_hProgram);
}

int CDropAllFilter::LoadProgram()
{
    // r0 = 0; exit: every packet is cut to no bytes, that is dropped.
    const bpf_insn program[2] = {
        {BPF_ALU64 | BPF_MOV | BPF_K, 0, 0, 0, 0},
        {BPF_JMP | BPF_EXIT, 0, 0, 0, 0},
    };
    static const char kLicense[] = "GPL";
    bpf_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.prog_type = BPF_PROG_TYPE_SOCKET_FILTER;
    attr.insns = reinterpret_cast<uintptr_t>(program);
    attr.insn_cnt = 2;
    attr.license = reinterpret_cast<uintptr_t>(kLicense);
    const long hProgram = syscall(__NR_bpf, BPF_PROG_LOAD, &attr, sizeof attr);
    return hProgram >= 0 ? static_cast<int>(hProgram) : -1;
}

CStatus CDropAllFilter::Attach(SocketHandle hSocket) const
{
    if (m_hProgram >= 0
        && setsockopt(hSocket, SOL_SOCKET, SO_ATTACH_BPF, &m_hProgram, sizeof m_hProgram) == 0)
        return CStatus();
    sock_filter acceptNothing = BPF_STMT(BPF_RET | BPF_K, 0);
    const sock_fprog program{1, &acceptNothing};
    if (setsockopt(hSocket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
        return CStatus::FromErrno("cannot set the device sockets to drop what reaches them", errno);
    return CStatus();
}
