// Win32: the stack guard of the Windows program (MinGW builds).
//
// The guard value and the failure routines that -fstack-protector-strong and -D_FORTIFY_SOURCE=2
// call for, in place of GCC's libssp: libssp seeds its guard with CryptGenRandom, which would add
// ADVAPI32.dll to the program's imports and a DLL load to every start. This guard comes from the
// processor's random number generator (RDRAND) when it has one, mixed with what KERNEL32 gives at
// no cost: the clocks, the counters, the process and thread ids and addresses that ASLR moves. A
// failed check ends the process at once, as Windows' own programs do: no handler runs.
#include <windows.h>

#include <cpuid.h>
#include <stdint.h>

uintptr_t __stack_chk_guard;

// One step of splitmix64: every input bit reaches every output bit.
static uint64_t mixed(uint64_t state, uint64_t input) {
    uint64_t z = (state ^ input) + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

__attribute__((target("rdrnd"))) static uint64_t processor_random(void) {
    unsigned long long value = 0;
    for (int attempt = 0; attempt < 10; ++attempt)
        if (__builtin_ia32_rdrand64_step(&value)) return value;
    return 0;
}

// Runs before the program's other constructors; it must not be protected itself (it changes the guard).
__attribute__((constructor(101), no_stack_protector)) static void seed_stack_guard(void) {
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    uint64_t state = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_RDRND)) state = mixed(state, processor_random());
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    state = mixed(state, (uint64_t)counter.QuadPart);
    state = mixed(state, ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime);
    state = mixed(state, ((uint64_t)GetCurrentProcessId() << 32) | GetCurrentThreadId());
    state = mixed(state, GetTickCount64());
    state = mixed(state, (uint64_t)(uintptr_t)&counter);
    state = mixed(state, (uint64_t)(uintptr_t)&__stack_chk_guard);
    state = mixed(state, (uint64_t)(uintptr_t)GetProcessHeap());
    // A zero low byte stops a runaway string copy from reading or writing past the guard intact.
    __stack_chk_guard = (uintptr_t)(state & ~(uint64_t)0xFF);
}

__attribute__((noreturn)) static void fail_fast(unsigned int code) {
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) __asm__ volatile("int $0x29" : : "c"(code) : "memory");
    TerminateProcess(GetCurrentProcess(), 0xC0000409);  // STATUS_STACK_BUFFER_OVERRUN
    __builtin_trap();
}

__attribute__((noreturn)) void __stack_chk_fail(void) { fail_fast(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE); }

__attribute__((noreturn)) void __chk_fail(void) { fail_fast(FAST_FAIL_RANGE_CHECK_FAILURE); }
