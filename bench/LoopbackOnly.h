// Benchmarks that start the Aravis transport run in a private network namespace
// with only loopback (Aravis discovery broadcasts on every interface): a program
// that sees any other interface re-executes itself through tests/netns-run.
#pragma once

#include <net/if.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline bool SeesOnlyLoopback() {
    struct if_nameindex* names = if_nameindex();
    if (!names) return false;
    bool onlyLo = true;
    for (struct if_nameindex* it = names; it->if_index != 0 && it->if_name; ++it)
        onlyLo = onlyLo && std::string(it->if_name) == "lo";
    if_freenameindex(names);
    return onlyLo;
}

/// Returns when the program sees loopback only; otherwise runs it again through
/// the launcher (which exits 77 where no namespace can be made) and never returns.
inline void RunOnLoopbackOnly(char** argv) {
    if (SeesOnlyLoopback()) return;
    std::fflush(stdout);
    std::string self = "/proc/self/exe";
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) self.assign(path, static_cast<size_t>(n));
    int argc = 0;
    while (argv[argc]) ++argc;
    char** args = new char*[static_cast<size_t>(argc) + 2];
    args[0] = const_cast<char*>(QRV_NETNS_RUN);
    args[1] = const_cast<char*>(self.c_str());
    for (int i = 1; i < argc; ++i) args[i + 1] = argv[i];
    args[argc + 1] = nullptr;
    execv(QRV_NETNS_RUN, args);
    std::fprintf(stderr, "%s: cannot run through %s; not run on the shared network\n", argv[0],
                 QRV_NETNS_RUN);
    std::exit(77);
}
