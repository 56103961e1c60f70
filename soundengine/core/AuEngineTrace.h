// Names each step of the engine's start, stop and audio pass as it runs, so that the order the
// engine promises can be watched from outside. Nothing listens unless a sink is set.
#pragma once

// Called on the thread that runs the step.
using AuTraceSink = void (*)(const char* step, void* user);

// Set or cleared while no engine thread runs (the threads' start and join order the accesses).
void AuSetTraceSink(AuTraceSink sink, void* user);
void AuTrace(const char* step) noexcept;
