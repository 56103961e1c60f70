// Test plug-ins the voice tests register: a parameter object that takes every value and keeps none,
// and an in-place effect that leaves its buffers as they are.
#pragma once

#include "plugins/AuEffectCommon.h"
#include "plugins/AuPlugin.h"

namespace voicetest {

class NoParams final : public AU::IAuPluginParam {
public:
    AURESULT SetParam(u16, const void*, u32) noexcept override { return AuResultSuccess; }
    AU::IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override {
        return AuPluginNew<NoParams>(allocator);
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, const void*, u32) noexcept override { return AuResultSuccess; }
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        AuPluginDelete(this, allocator);
        return AuResultSuccess;
    }
    AURESULT SetParamsBlock(const void*, u32) noexcept override { return AuResultSuccess; }
};

inline AU::IAuPluginParam* CreateNoParams(AU::IAuPluginMemAlloc* allocator) {
    return AuPluginNew<NoParams>(allocator);
}

// A test that wants to see what the host hands over at the start overrides Init.
class PassThroughEffect : public AU::IAuPlugin {
public:
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        AuPluginDelete(this, allocator);
        return AuResultSuccess;
    }
    AURESULT Reset() noexcept override { return AuResultSuccess; }
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override {
        info.eType = AuPluginTypeEffect;
        info.bIsInPlace = true;
        return AuResultSuccess;
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, AU::IAuEffectPluginContext*, AU::IAuPluginParam*,
                  AuPluginFormat&) noexcept override {
        return AuResultSuccess;
    }
    void Execute(AuPipelineBuffer&) noexcept override {}
    AURESULT TimeSkip(u32) noexcept override { return AuResultSuccess; }
};

} // namespace voicetest
