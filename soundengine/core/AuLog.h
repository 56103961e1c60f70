// The sound engine's one log: every readable reason (a refused bank, a bad pool size) goes through
// it, so a test or the game can read what the engine said instead of scraping the console.
#pragma once

enum class AuLogLevel { Info, Warning, Error };

// Receives each finished line (no trailing newline). Called on the thread that logged, under the
// log's lock, so a sink sees lines one at a time and in order.
using AuLogSink = void (*)(AuLogLevel level, const char* text, void* user);

void AuLog(AuLogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A null sink restores the default, which prints each line to standard output.
void AuSetLogSink(AuLogSink sink, void* user);
