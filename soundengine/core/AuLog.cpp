#include "core/AuLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

// The engine's texts are printed as they stand: callers and players know them by their words.
void PrintToConsole(AuLogLevel, const char* text, void*) {
    std::printf("%s\n", text);
}

std::mutex g_logLock;
AuLogSink g_logSink = PrintToConsole;
void* g_logUser = nullptr;

} // namespace

void AuLog(AuLogLevel level, const char* format, ...) {
    // Long enough for any reason the engine gives; a longer line is cut rather than allocated.
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::lock_guard lock(g_logLock);
    g_logSink(level, text, g_logUser);
}

void AuSetLogSink(AuLogSink sink, void* user) {
    std::lock_guard lock(g_logLock);
    g_logSink = sink ? sink : PrintToConsole;
    g_logUser = sink ? user : nullptr;
}
