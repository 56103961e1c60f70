#include "core/AuEngineTrace.h"

namespace {

AuTraceSink s_sink = nullptr;
void* s_user = nullptr;

} // namespace

void AuSetTraceSink(AuTraceSink sink, void* user) {
    s_sink = sink;
    s_user = user;
}

void AuTrace(const char* step) noexcept {
    if (s_sink) s_sink(step, s_user);
}
