// The mixing tests' own mixer plug-in: it mixes every input straight across at the gain of its one
// parameter, ignoring the bus's matrices, and writes down each call the bus makes. The controls
// below choose how it answers; each test resets them.
#pragma once

#include "plugins/AuPlugin.h"
#include "voices/AuLowerEngine.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace voicetest {

constexpr u32 kTestMixerID = 0x3A1;
constexpr u16 kTestMixerGain = 0;

inline u32 TestMixerKey(AuPluginType type = AuPluginTypeMixer) {
    return CAuLowerEngine::PluginKey(type, 0, kTestMixerID);
}

struct TestMixerControl {
    AuPluginType eType = AuPluginTypeMixer; // what GetPluginInfo answers
    AURESULT eInit = AuResultSuccess;
    AURESULT eReset = AuResultSuccess;
    u32 uMediaIndex = 0xFFFFFFFFu; // asked for at Init when set

    std::vector<std::string> calls;
    AU::IAuMixerPluginContext* pContext = nullptr;
    AuPluginFormat format;
    const u8* pMedia = nullptr;
    u32 uMediaSize = 0;
    int live = 0;
};
inline TestMixerControl g_mixer;

class TestMixerParams final : public AU::IAuPluginParam {
public:
    AURESULT SetParam(u16 id, const void* value, u32) noexcept override {
        if (id != kTestMixerGain) return AuResultFail;
        fGain = *static_cast<const f32*>(value);
        return AuResultSuccess;
    }
    IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override {
        void* block = allocator->Malloc(sizeof(TestMixerParams));
        return block ? new (block) TestMixerParams(*this) : nullptr;
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, const void* block, u32 size) noexcept override {
        if (size >= sizeof(f32)) memcpy(&fGain, block, sizeof(f32));
        return AuResultSuccess;
    }
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        this->~TestMixerParams();
        allocator->Free(this);
        return AuResultSuccess;
    }
    AURESULT SetParamsBlock(const void* block, u32 size) noexcept override {
        return Init(nullptr, block, size);
    }
    f32 fGain = 1.0f;
};

class TestMixer final : public AU::IAuMixerPlugin {
public:
    TestMixer() { ++g_mixer.live; }
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override {
        g_mixer.calls.push_back("term");
        --g_mixer.live;
        this->~TestMixer();
        allocator->Free(this);
        return AuResultSuccess;
    }
    AURESULT Reset() noexcept override {
        g_mixer.calls.push_back("reset");
        return g_mixer.eReset;
    }
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override {
        info.eType = g_mixer.eType;
        return AuResultSuccess;
    }
    AURESULT Init(AU::IAuPluginMemAlloc*, AU::IAuMixerPluginContext* context, AU::IAuPluginParam* params,
                  AuPluginFormat& format) noexcept override {
        g_mixer.calls.push_back("init");
        g_mixer.pContext = context;
        g_mixer.format = format;
        m_pParams = static_cast<TestMixerParams*>(params);
        if (g_mixer.uMediaIndex != 0xFFFFFFFFu)
            context->GetPluginMedia(g_mixer.uMediaIndex, g_mixer.pMedia, g_mixer.uMediaSize);
        return g_mixer.eInit;
    }
    AURESULT TimeSkip(u32) noexcept override { return AuResultSuccess; }
    void OnInputConnected() noexcept override { g_mixer.calls.push_back("connect"); }
    void OnInputDisconnected() noexcept override { g_mixer.calls.push_back("disconnect"); }
    void ConsumeInput(const AuPipelineBuffer& input, const f32*, const f32*, AuGainPair,
                      AuPipelineBuffer& mix) noexcept override {
        g_mixer.calls.push_back("consume " + std::to_string(input.NumChannels()));
        const u32 frames = input.uValidFrames < mix.uMaxFrames ? input.uValidFrames : mix.uMaxFrames;
        for (u32 c = 0; c < mix.NumChannels(); ++c)
            for (u32 i = 0; i < frames; ++i)
                mix.GetChannel(c)[i] += input.GetChannel(c % input.NumChannels())[i] * m_pParams->fGain;
    }
    void OnMixDone(AuPipelineBuffer&) noexcept override { g_mixer.calls.push_back("mixdone"); }
    void OnEffectsProcessed(AuPipelineBuffer&) noexcept override { g_mixer.calls.push_back("effectsdone"); }

private:
    TestMixerParams* m_pParams = nullptr;
};

inline AU::IAuPlugin* CreateTestMixer(AU::IAuPluginMemAlloc* allocator) {
    void* block = allocator->Malloc(sizeof(TestMixer));
    return block ? new (block) TestMixer() : nullptr;
}
inline AU::IAuPluginParam* CreateTestMixerParams(AU::IAuPluginMemAlloc* allocator) {
    void* block = allocator->Malloc(sizeof(TestMixerParams));
    return block ? new (block) TestMixerParams() : nullptr;
}

// Registers the mixer as `type` (a mixer unless a test makes it lie) and resets the controls.
inline void RegisterTestMixer(AuPluginType type = AuPluginTypeMixer) {
    g_mixer = TestMixerControl{};
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(type, 0, kTestMixerID, CreateTestMixer, CreateTestMixerParams),
              AuResultSuccess);
}

} // namespace voicetest
