#pragma once

// What the test process holds right now, from the platform's own accounts.
class ProcessStats {
public:
    // Threads of this process; -1 when unknown.
    static long Threads();
    // The resident set (the working set on Windows) in kB; -1 when unknown.
    static long ResidentKb();
    // The most files (sockets included) the process may open at once, the
    // hard limit; -1 when there is no such limit (Windows).
    static long DescriptorLimit();
};
