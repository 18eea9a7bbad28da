#include "StaticRuntime.h"

#include <windows.h>
#include <pthread.h>

// libstdc++'s release of what it keeps for the process's life (its exception emergency pool).
namespace __gnu_cxx {
void __freeres();
}

void ReleaseStaticRuntime() { __gnu_cxx::__freeres(); }

// The runtime's one-time initialisations (the lock behind local statics, emulated thread-local
// storage) call pthread_once, linked to this instead (-Wl,--wrap=pthread_once). winpthread's own
// gives the calling thread, the host's, a record with an event and a handle to the thread, kept
// until that thread ends: every unload of the DLL would leave them behind.
extern "C" int __wrap_pthread_once(pthread_once_t* once, void (*initialise)(void))
{
    // winpthread's values: 0 not yet run, 1 done; 2 while a thread runs it.
    constexpr long kRunning = 2, kDone = 1;
    for (;;) {
        const long state = InterlockedCompareExchange(once, kRunning, 0);
        if (state == kDone) return 0;
        if (state == 0) {
            initialise();
            InterlockedExchange(once, kDone);
            return 0;
        }
        SwitchToThread();
    }
}
