// What the effect tests share: an allocator that counts and can fail, a host context, and a
// planar buffer driven the way a host drives an effect.
#pragma once

#include "plugins/AuPlugin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

class TestAllocator final : public AU::IAuPluginMemAlloc {
public:
    ~TestAllocator() override {
        for (void* block : m_live)
            std::free(block);
    }
    void* Malloc(size_t size) override {
        if (m_failAfter == 0) return nullptr;
        if (m_failAfter > 0) --m_failAfter;
        void* block = std::aligned_alloc(16, (size + 15) & ~size_t{15});
        m_live.insert(block);
        ++m_numAllocs;
        return block;
    }
    void Free(void* block) override {
        EXPECT_EQ(m_live.erase(block), 1u) << "freed a block this allocator did not hand out";
        std::free(block);
    }
    size_t Live() const { return m_live.size(); }
    // The next `count` allocations succeed, the rest fail; -1 never fails.
    void FailAfter(int count) { m_failAfter = count; }
    int m_numAllocs = 0;

private:
    std::set<void*> m_live;
    int m_failAfter = -1;
};

class TestContext final : public AU::IAuEffectPluginContext {
public:
    explicit TestContext(bool sendMode = false, u32 maxFrames = 1024)
        : m_sendMode(sendMode), m_maxFrames(maxFrames) {}
    u32 GetMaxBufferLength() const noexcept override { return m_maxFrames | 0xABCD0000u; }
    bool IsSendModeEffect() const noexcept override { return m_sendMode; }

private:
    bool m_sendMode;
    u32 m_maxFrames;
};

// A planar buffer of its own storage, 16-byte aligned as the engine's are.
class TestBuffer {
public:
    TestBuffer(AuChannelConfig config, u16 maxFrames)
        : m_samples(size_t(config.NumChannels()) * maxFrames + 4) {
        buffer.channelConfig = config;
        buffer.uMaxFrames = maxFrames;
        buffer.pData = Aligned();
    }
    f32* Channel(u32 c) { return buffer.GetChannel(c); }
    void Clear() { memset(buffer.pData, 0, sizeof(f32) * buffer.NumChannels() * buffer.uMaxFrames); }
    // A full buffer of input: `fill(channel, frame)` per sample.
    void Fill(const std::function<f32(u32, u32)>& fill, AURESULT state = AuResultDataReady) {
        for (u32 c = 0; c < buffer.NumChannels(); ++c)
            for (u32 i = 0; i < buffer.uMaxFrames; ++i)
                Channel(c)[i] = fill(c, i);
        buffer.uValidFrames = buffer.uMaxFrames;
        buffer.eState = state;
    }
    // What a host hands on after the input ended: no valid frames, state 17.
    void Ended() {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultNoMoreData;
    }
    AuPipelineBuffer buffer;

private:
    f32* Aligned() {
        auto address = reinterpret_cast<uintptr_t>(m_samples.data());
        return reinterpret_cast<f32*>((address + 15) & ~uintptr_t{15});
    }
    std::vector<f32> m_samples;
};

inline void SetF32(AU::IAuPluginParam* params, u16 id, f32 value, AURESULT expected = AuResultSuccess) {
    EXPECT_EQ(params->SetParam(id, &value, sizeof value), expected) << "id " << id;
}
inline void SetU32(AU::IAuPluginParam* params, u16 id, u32 value, AURESULT expected = AuResultSuccess) {
    EXPECT_EQ(params->SetParam(id, &value, sizeof value), expected) << "id " << id;
}

// Little-endian bytes at explicit offsets, written independently of the shared layouts.
class BlockBytes {
public:
    explicit BlockBytes(size_t size) : bytes(size) {}
    void F32(size_t offset, f32 v) { memcpy(&bytes.at(offset + 3) - 3, &v, 4); }
    void U32(size_t offset, u32 v) { memcpy(&bytes.at(offset + 3) - 3, &v, 4); }
    void U8(size_t offset, u8 v) { bytes.at(offset) = v; }
    std::vector<u8> bytes;
};

constexpr u32 kEffectTestRate = 48000;
constexpr u16 kEffectTestFrames = 1024;

// One effect under test: its parameters made at set-up, the effect started by each test, and
// every block given back to the counting allocator at the end.
template <class Effect, class Params, AU::IAuPlugin* (*CreateEffect)(AU::IAuPluginMemAlloc*),
          AU::IAuPluginParam* (*CreateParams)(AU::IAuPluginMemAlloc*)>
class EffectFixture : public testing::Test {
protected:
    void SetUp() override {
        m_params = static_cast<Params*>(CreateParams(&m_alloc));
        ASSERT_NE(m_params, nullptr);
        ASSERT_EQ(m_params->Init(&m_alloc, nullptr, 0), AuResultSuccess);
    }
    void TearDown() override {
        Stop();
        EXPECT_EQ(m_params->Term(&m_alloc), AuResultSuccess);
        EXPECT_EQ(m_alloc.Live(), 0u);
    }
    AURESULT Start(AuChannelConfig config, bool sendMode = false) {
        Stop();
        m_effect = static_cast<Effect*>(CreateEffect(&m_alloc));
        EXPECT_NE(m_effect, nullptr);
        TestContext context(sendMode, kEffectTestFrames);
        AuPluginFormat format{kEffectTestRate, config};
        const AURESULT result = m_effect->Init(&m_alloc, &context, m_params, format);
        if (result == AuResultSuccess) m_effect->Reset();
        return result;
    }
    void Stop() {
        if (m_effect) {
            EXPECT_EQ(m_effect->Term(&m_alloc), AuResultSuccess);
        }
        m_effect = nullptr;
    }
    // Every channel's output over `frames` frames, fed by `input(channel, frame)`.
    std::vector<std::vector<f32>> Run(AuChannelConfig config, u32 frames,
                                      const std::function<f32(u32, u32)>& input) {
        TestBuffer t(config, kEffectTestFrames);
        std::vector<std::vector<f32>> out(config.NumChannels());
        for (u32 start = 0; start < frames; start += kEffectTestFrames) {
            t.Fill([&](u32 c, u32 i) { return input(c, start + i); });
            m_effect->Execute(t.buffer);
            for (u32 c = 0; c < config.NumChannels(); ++c)
                out[c].insert(out[c].end(), t.Channel(c), t.Channel(c) + kEffectTestFrames);
        }
        return out;
    }

    TestAllocator m_alloc;
    Params* m_params = nullptr;
    Effect* m_effect = nullptr;
};
