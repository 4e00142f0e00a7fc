// What the statically linked C++ runtime would take from the host process at every load of this module, kept
// inside it: one-time initialisation without GCC's POSIX-threads layer, and every thread-local or fibre-local slot
// the runtime takes given back at unload.
//
// The POSIX-threads layer (winpthreads) that GCC's libstdc++ and libgcc call makes a record for every thread that
// enters it: a thread-local slot the first time in each copy of the module, and for each thread a duplicate of its
// handle and an event, closed only when that thread ends while the module is loaded. It never gives the slot back,
// and the thread that loaded or right-clicked usually outlives the module. pthread_once entered it at every load of
// the 32-bit module (the unwinder's lock for the frame tables) and for the first function-local static (the guards'
// lock), one slot and two handles each time: a host had none left after about a thousand loads. So once and the
// guards are done here with the system's slim locks, which take nothing, and whatever slot the layer still asks for
// (an exception's per-thread state, thrown only on running out of memory) is noted and freed at unload.
//
// The ARM64 build's libc++abi keeps an exception's per-thread state in a fibre-local slot whose clean-up callback is
// in this module: left behind, every thread that ends after the unload would call into unmapped code. It is noted
// and freed the same way; freeing it runs the callback for every thread that still has a value.

#include <windows.h>

#include <cstdint>

#if !defined(__clang__)
#include <pthread.h>
#endif

namespace {

#if !defined(__clang__)

// One lock and one wake-up for every one-time initialisation of the module: each is short and rare, and none waits
// for another while it holds the lock.
SRWLOCK g_initLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_initDone = CONDITION_VARIABLE_INIT;

// True for the caller that is to run the initialisation; false once it has run, after waiting while another thread
// runs it. `done` is read without the lock by the fast paths, so it is written last and with release order.
bool BeginInit(unsigned char* done, unsigned char* running) noexcept {
    if (__atomic_load_n(done, __ATOMIC_ACQUIRE) != 0) {
        return false;
    }
    AcquireSRWLockExclusive(&g_initLock);
    while (__atomic_load_n(done, __ATOMIC_RELAXED) == 0 && *running != 0) {
        SleepConditionVariableSRW(&g_initDone, &g_initLock, INFINITE, 0);
    }
    const bool mine = __atomic_load_n(done, __ATOMIC_RELAXED) == 0;
    if (mine) {
        *running = 1;
    }
    ReleaseSRWLockExclusive(&g_initLock);
    return mine;
}

// Ends the caller's run: done, or abandoned (an exception left the initialiser) for the next caller to try again.
void EndInit(unsigned char* done, unsigned char* running, bool completed) noexcept {
    AcquireSRWLockExclusive(&g_initLock);
    *running = 0;
    if (completed) {
        __atomic_store_n(done, 1, __ATOMIC_RELEASE);
    }
    ReleaseSRWLockExclusive(&g_initLock);
    WakeAllConditionVariable(&g_initDone);
}

#endif

// The runtime's own slots, freed at unload. A handful at most: each runtime asks for one per copy of the module.
constexpr int kSlotCapacity = 8;
DWORD g_slots[kSlotCapacity];
LONG g_slotCount = 0;

void NoteSlot(DWORD slot) noexcept {
    const LONG at = InterlockedIncrement(&g_slotCount) - 1;
    if (at < kSlotCapacity) {
        g_slots[at] = slot;
    }
}

#if defined(__clang__)
DWORD WINAPI NotedFlsAlloc(PFLS_CALLBACK_FUNCTION callback) noexcept;
void FreeSlot(DWORD slot) noexcept {
    FlsFree(slot);
}
#else
DWORD WINAPI NotedTlsAlloc() noexcept;
void FreeSlot(DWORD slot) noexcept {
    TlsFree(slot);
}
#endif

} // namespace

#if !defined(__clang__)
namespace __gnu_cxx {
// libstdc++'s own: frees the emergency pool its start-up reserved for exceptions thrown when memory runs out.
void __freeres() noexcept;
} // namespace __gnu_cxx
#endif

extern "C" {

#if defined(__clang__)

// libc++'s calls of FlsAlloc go through this pointer instead of the import (the link wraps the import's own
// pointer); the real import stays reachable as __real_.
extern DWORD(WINAPI* __real___imp_FlsAlloc)(PFLS_CALLBACK_FUNCTION);
DWORD(WINAPI* __wrap___imp_FlsAlloc)(PFLS_CALLBACK_FUNCTION) = NotedFlsAlloc;

#else

// The C++ ABI's guard of a function-local static: its first byte says done (the compiler's inline check reads it),
// the second that a thread is initialising it.
int __cxa_guard_acquire(std::int64_t* guard) noexcept {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    return BeginInit(&bytes[0], &bytes[1]) ? 1 : 0;
}
void __cxa_guard_release(std::int64_t* guard) noexcept {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    EndInit(&bytes[0], &bytes[1], true);
}
void __cxa_guard_abort(std::int64_t* guard) noexcept {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    EndInit(&bytes[0], &bytes[1], false);
}

// Every pthread_once of libstdc++ and libgcc (the link wraps it). winpthreads reads 1 as done; its low byte is
// done here, the next one running, so a state it wrote reads the same.
int __wrap_pthread_once(pthread_once_t* once, void (*init)(void)) {
    auto* bytes = reinterpret_cast<unsigned char*>(once);
    if (BeginInit(&bytes[0], &bytes[1])) {
        init();
        EndInit(&bytes[0], &bytes[1], true);
    }
    return 0;
}

// The runtime's calls of TlsAlloc go through this pointer instead of the import (the link wraps the import's own
// pointer); the real import stays reachable as __real_.
#if defined(_WIN64)
extern DWORD(WINAPI* __real___imp_TlsAlloc)();
DWORD(WINAPI* __wrap___imp_TlsAlloc)() = NotedTlsAlloc;
#else
extern DWORD(WINAPI* RealTlsAlloc)() __asm__("___real__imp__TlsAlloc@0");
DWORD(WINAPI* WrappedTlsAlloc)() __asm__("___wrap__imp__TlsAlloc@0") = NotedTlsAlloc;
#endif

#endif // __clang__

} // extern "C"

namespace {

#if defined(__clang__)
DWORD WINAPI NotedFlsAlloc(PFLS_CALLBACK_FUNCTION callback) noexcept {
    const DWORD slot = __real___imp_FlsAlloc(callback);
    if (slot != FLS_OUT_OF_INDEXES) {
        NoteSlot(slot);
    }
    return slot;
}
#else
DWORD WINAPI NotedTlsAlloc() noexcept {
#if defined(_WIN64)
    const DWORD slot = __real___imp_TlsAlloc();
#else
    const DWORD slot = RealTlsAlloc();
#endif
    if (slot != TLS_OUT_OF_INDEXES) {
        NoteSlot(slot);
    }
    return slot;
}
#endif

// Destroyed with the module's other static objects, after DllMain has seen DLL_PROCESS_DETACH and after the
// runtime's own detach callback: nothing of the runtime reads its slots or throws afterwards. TlsFree clears the
// slot in every thread, so the next owner finds it empty; FlsFree also runs the slot's callback for each value.
// libstdc++ never frees its emergency pool for exceptions (a heap block of about 70 KB) by itself.
struct RuntimeResources {
    ~RuntimeResources() {
        const LONG count = InterlockedExchange(&g_slotCount, 0);
        for (LONG i = 0; i < count && i < kSlotCapacity; ++i) {
            FreeSlot(g_slots[i]);
        }
#if !defined(__clang__)
        __gnu_cxx::__freeres();
#endif
    }
};
const RuntimeResources g_runtimeResources;

} // namespace
