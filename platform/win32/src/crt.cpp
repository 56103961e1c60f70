#include <windows.h>

#include <atomic>

namespace {
// One process-wide generator: the game thread and the audio thread both draw from it.
std::atomic<uint32_t> g_randState{1};
} // namespace

extern "C" int rand(void) noexcept {
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
