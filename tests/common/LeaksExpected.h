// For a death-test child that exits on purpose with resources still held (a
// camera open, a stream acquiring, producers left to the system): LeakSanitizer
// would report them at exit. QRV_LEAKS_EXPECTED() turns its exit check off for
// that child only. Include in one source file per test program.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
namespace {
volatile int g_leaksExpected = 0;
}
extern "C" __attribute__((visibility("default"))) int __lsan_is_turned_off() {
    return g_leaksExpected;
}
#define QRV_LEAKS_EXPECTED() (g_leaksExpected = 1)
#else
#define QRV_LEAKS_EXPECTED() ((void)0)
#endif
