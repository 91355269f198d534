#include "qttestwatchdog.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRX_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TRX_LEAK_CHECKED 1
#endif

#ifdef TRX_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace {
bool g_starting = false;
}

void watchdogStarting()
{
#ifdef TRX_LEAK_CHECKED
    if (!g_starting)
        __lsan_disable();
#endif
    g_starting = true;
}

void watchdogStarted()
{
#ifdef TRX_LEAK_CHECKED
    if (g_starting)
        __lsan_enable();
#endif
    g_starting = false;
}
