#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"
#include "voices/AuSourcePluginHost.h"

#include "LowerEnginePoolTest.h"

#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>

#include <new>

namespace {

// A codec's source as a registered creator makes it; it remembers which creator that was.
class CodecSource final : public CAuSourceBase {
public:
    CodecSource(CAuPlaybackInstance* instance, const char* by)
        : CAuSourceBase(instance, nullptr, 0), made(by) {}
    AURESULT StartStream() noexcept override { return AuResultSuccess; }
    void GetBuffer(AuPipelineBuffer& buffer) noexcept override { buffer.eState = AuResultNoMoreData; }
    const char* made;
};

AU::IAuSoftwareCodec* Make(void* instance, const char* by) {
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CodecSource), 16);
    auto* source = new (block) CodecSource(static_cast<CAuPlaybackInstance*>(instance), by);
    return reinterpret_cast<AU::IAuSoftwareCodec*>(static_cast<CAuSourceBase*>(source));
}
AU::IAuSoftwareCodec* MakeStreamed(void* instance) {
    return Make(instance, "streamed");
}
AU::IAuSoftwareCodec* MakeInMemory(void* instance) {
    return Make(instance, "in memory");
}
AU::IAuSoftwareCodec* MakeNothing(void*) {
    return nullptr;
}

class SourceFactoryTest : public voicetest::LowerEnginePoolTest {
protected:
    void TearDown() override {
        CAuLowerEngine::FreeRegistries();
        LowerEnginePoolTest::TearDown();
    }
};

TEST_F(SourceFactoryTest, OtherCodecsComeFromTheCodecTableByStorageKind) {
    ASSERT_EQ(CAuLowerEngine::RegisterCodec(0, 7, MakeStreamed, MakeInMemory), AuResultSuccess);
    ASSERT_EQ(CAuLowerEngine::RegisterCodec(0, 9, MakeNothing, MakeNothing), AuResultSuccess);
    struct Case {
        u32 kind;
        u32 codecWord;
        const char* made; // null: no source
    };
    const Case cases[] = {
        {1, 0x70001, "streamed"}, {3, 0x70001, "in memory"}, // creators 1 and 2
        {0, 0x70001, nullptr},    {4, 0x70001, nullptr},     // neither streamed nor in memory
        {1, 0x90001, nullptr},    {3, 0x90001, nullptr},     // the creator made nothing
        {3, 0x50001, nullptr},                               // no row for the codec word
        {3, 0x0FFFF, nullptr},    {1, 0x00001, nullptr},     // no codec in the word
    };
    for (const Case& c : cases) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        CAuPlaybackInstance instance(params);
        AuSourceMedia media;
        media.uFlags = c.kind << AuSourceMedia::kStorageShift;
        media.uPluginID = c.codecWord;
        instance.SetSourceMedia(media);
        CAuSourceBase* source = AuCreateSource(&instance);
        const char* made = source ? static_cast<CodecSource*>(source)->made : nullptr;
        EXPECT_STREQ(made, c.made) << c.kind << " " << std::hex << c.codecWord;
        if (source) {
            EXPECT_EQ(source->Instance(), &instance);
            AuDestroySource(source);
        }
    }
    // Kind 2 is a generator, whatever the codec word says.
    for (u32 codecWord : {0u, 0x10001u, 0x70001u}) {
        AuPlaybackInstanceParams params;
        params.key.playingID = 1;
        CAuPlaybackInstance instance(params);
        AuSourceMedia media;
        media.uFlags = AuSourceMedia::kStoragePlugin << AuSourceMedia::kStorageShift;
        media.uPluginID = codecWord;
        instance.SetSourceMedia(media);
        CAuSourceBase* source = AuCreateSource(&instance);
        EXPECT_NE(dynamic_cast<CAuSourcePluginHost*>(source), nullptr) << std::hex << codecWord;
        AuDestroySource(source);
    }
}

} // namespace
