#include <win32_testing.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace {
// One process-wide generator: the game thread and the audio thread both draw from it.
std::atomic<uint32_t> g_randState{1};
// Tests' script: written while no thread draws, then read by the drawing threads; the position
// and the count are atomics so that concurrent draws each take their own value.
std::vector<int> g_randScript;
std::atomic<size_t> g_randScriptAt{0};
std::atomic<size_t> g_randScriptSize{0};
std::atomic<size_t> g_randCalls{0};
} // namespace

void win32test::ScriptRand(const int* values, size_t count) {
    g_randScript.assign(values, values + count);
    g_randScriptAt.store(0, std::memory_order_relaxed);
    g_randScriptSize.store(count, std::memory_order_release);
}

size_t win32test::RandCallCount() {
    return g_randCalls.load(std::memory_order_relaxed);
}

void win32test::ResetRandScript() {
    g_randScriptSize.store(0, std::memory_order_release);
    g_randScript.clear();
    g_randScriptAt.store(0, std::memory_order_relaxed);
    g_randCalls.store(0, std::memory_order_relaxed);
}

extern "C" int rand(void) noexcept {
    g_randCalls.fetch_add(1, std::memory_order_relaxed);
    if (g_randScriptSize.load(std::memory_order_acquire) != 0) {
        const size_t at = g_randScriptAt.fetch_add(1, std::memory_order_relaxed);
        if (at < g_randScriptSize.load(std::memory_order_relaxed)) return g_randScript[at] & 0x7FFF;
    }
    uint32_t state = g_randState.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        next = state * 214013u + 2531011u;
    } while (!g_randState.compare_exchange_weak(state, next, std::memory_order_relaxed));
    return static_cast<int>((next >> 16) & 0x7FFF);
}

extern "C" void srand(unsigned int seed) noexcept {
    g_randState.store(seed, std::memory_order_relaxed);
}

errno_t wcstombs_s(size_t* converted, char* destination, size_t destinationSize, const wchar_t* source,
                   size_t count) {
    if (converted) *converted = 0;
    if (!source || (!destination && destinationSize != 0) || (destination && destinationSize == 0))
        return EINVAL;
    if (!destination) {
        // Size query: the bytes the whole conversion needs, terminator included.
        size_t n = 0;
        for (; (count == _TRUNCATE || n < count) && source[n]; ++n)
            if (static_cast<uint32_t>(source[n]) > 0xFF) return EILSEQ;
        if (converted) *converted = n + 1;
        return 0;
    }
    size_t n = 0;
    for (; (count == _TRUNCATE || n < count) && source[n]; ++n) {
        if (n + 1 >= destinationSize) {
            if (count == _TRUNCATE) break;
            destination[0] = '\0';
            return ERANGE;
        }
        const auto c = static_cast<uint32_t>(source[n]);
        if (c > 0xFF) {
            destination[0] = '\0';
            return EILSEQ;
        }
        destination[n] = static_cast<char>(c);
    }
    destination[n] = '\0';
    if (converted) *converted = n + 1;
    // A truncated conversion reports it, as the runtime does.
    return count == _TRUNCATE && source[n] ? STRUNCATE : 0;
}
