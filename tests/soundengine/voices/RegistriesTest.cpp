#include "AuDefaultPoolTest.h"
#include "voices/AuLowerEngine.h"

#include <atomic>
#include <thread>

namespace {

AU::IAuPlugin* const kPluginA = reinterpret_cast<AU::IAuPlugin*>(0x100);
AU::IAuPluginParam* const kParams = reinterpret_cast<AU::IAuPluginParam*>(0x200);
AU::IAuSoftwareCodec* const kStreamedCodec = reinterpret_cast<AU::IAuSoftwareCodec*>(0x300);
AU::IAuSoftwareCodec* const kMemoryCodec = reinterpret_cast<AU::IAuSoftwareCodec*>(0x400);

AU::IAuPlugin* MakePlugin(AU::IAuPluginMemAlloc*) {
    return kPluginA;
}
AU::IAuPlugin* MakeNoPlugin(AU::IAuPluginMemAlloc*) {
    return nullptr;
}
AU::IAuPluginParam* MakeParams(AU::IAuPluginMemAlloc*) {
    return kParams;
}
AU::IAuSoftwareCodec* MakeStreamed(void*) {
    return kStreamedCodec;
}
AU::IAuSoftwareCodec* MakeInMemory(void*) {
    return kMemoryCodec;
}

class FakeMotionDevice final : public AU::IAuMotionDevice {
public:
    static inline AURESULT initResult = AuResultSuccess;
    static inline int terms = 0;
    static inline u32 settings[3] = {};
    AURESULT Init(AU::IAuPluginMemAlloc*, u32 a, u32 b, u32 c) override {
        settings[0] = a;
        settings[1] = b;
        settings[2] = c;
        return initResult;
    }
    AURESULT Term(AU::IAuPluginMemAlloc*) override {
        ++terms;
        return AuResultSuccess;
    }
};

FakeMotionDevice g_motionDevice;

AU::IAuMotionDevice* MakeMotionDevice(AU::IAuPluginMemAlloc*) {
    return &g_motionDevice;
}
AU::IAuMotionDevice* MakeNoMotionDevice(AU::IAuPluginMemAlloc*) {
    return nullptr;
}

class RegistriesTest : public AuDefaultPoolTest {
protected:
    void TearDown() override {
        CAuLowerEngine::FreeRegistries();
        AuDefaultPoolTest::TearDown();
    }
};

} // namespace

TEST(RegistryKeysTest, KeysPackIdsCompanyAndType) {
    EXPECT_EQ(CAuLowerEngine::CodecKey(0, 4), 0x00040001u);
    EXPECT_EQ(CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 106), 0x006A0003u);
    EXPECT_EQ(CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 118), 0x00760003u);
    EXPECT_EQ(CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 135), 0x00870003u);
    EXPECT_EQ(CAuLowerEngine::PluginKey(AuPluginTypeEffect, 2, 106), 0x006A0023u);
    EXPECT_EQ(CAuLowerEngine::PluginKey(0x13, 0, 1), 0x00010003u); // only the type's low four bits
    EXPECT_EQ(CAuLowerEngine::MotionKey(1, 2), 0x00020014u);
}

TEST_F(RegistriesTest, ASecondRegistrationOfAKeyIsRefusedAndTheFirstRowStays) {
    EXPECT_EQ(CAuLowerEngine::RegisterCodec(0, 4, MakeStreamed, MakeInMemory), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::RegisterCodec(0, 4, MakeInMemory, MakeStreamed), AuResultFail);
    EXPECT_EQ(CAuLowerEngine::NumCodecs(), 1u);
    EXPECT_EQ(CAuLowerEngine::CreateCodecSource(nullptr, 1, 0x00040001), kStreamedCodec);
    EXPECT_EQ(CAuLowerEngine::CreateCodecSource(nullptr, 3, 0x00040001), kMemoryCodec);
    EXPECT_EQ(CAuLowerEngine::CreateCodecSource(nullptr, 1, 0x00020001), nullptr);

    EXPECT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 106, MakePlugin, MakeParams),
              AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 106, MakeNoPlugin, MakeParams),
              AuResultFail);
    EXPECT_EQ(CAuLowerEngine::NumPlugins(), 1u);
    AU::IAuPlugin* plugin = nullptr;
    EXPECT_EQ(CAuLowerEngine::CreatePlugin(nullptr, 0x006A0003, plugin), AuResultSuccess);
    EXPECT_EQ(plugin, kPluginA);
}

TEST_F(RegistriesTest, MissingCreatorsAreRefused) {
    EXPECT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 118, MakePlugin, nullptr),
              AuResultInvalidParameter);
    EXPECT_EQ(CAuLowerEngine::NumPlugins(), 0u);
    EXPECT_EQ(CAuLowerEngine::RegisterCodec(0, 4, MakeStreamed, nullptr), AuResultInvalidParameter);
    EXPECT_EQ(CAuLowerEngine::RegisterCodec(0, 4, nullptr, MakeInMemory), AuResultInvalidParameter);
    EXPECT_EQ(CAuLowerEngine::NumCodecs(), 0u);
    EXPECT_EQ(CAuLowerEngine::RegisterMotionDevice(1, 2, nullptr), AuResultInvalidParameter);

    // A row may lack the plug-in creator: creating it fails instead of calling null.
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeSource, 0, 7, nullptr, MakeParams), AuResultSuccess);
    AU::IAuPlugin* plugin = kPluginA;
    EXPECT_EQ(
        CAuLowerEngine::CreatePlugin(nullptr, CAuLowerEngine::PluginKey(AuPluginTypeSource, 0, 7), plugin),
        AuResultFail);
    EXPECT_EQ(plugin, nullptr);
}

TEST_F(RegistriesTest, CreatorsAnswerForTheirKeysOnly) {
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 135, MakeNoPlugin, MakeParams),
              AuResultSuccess);
    AU::IAuPlugin* plugin = kPluginA;
    EXPECT_EQ(CAuLowerEngine::CreatePlugin(nullptr, 0x00870003, plugin), AuResultFail);
    EXPECT_EQ(plugin, nullptr);
    plugin = kPluginA;
    EXPECT_EQ(CAuLowerEngine::CreatePlugin(nullptr, 0x00870004, plugin), AuResultFail);
    EXPECT_EQ(plugin, nullptr);

    AU::IAuPluginParam* params = nullptr;
    EXPECT_EQ(CAuLowerEngine::CreatePluginParams(nullptr, 0x00870003, params), AuResultSuccess);
    EXPECT_EQ(params, kParams);
    EXPECT_EQ(CAuLowerEngine::CreatePluginParams(nullptr, 0x00990003, params), AuResultFail);
    EXPECT_EQ(params, nullptr);
}

TEST_F(RegistriesTest, MotionDevicesStartOrAreTakenDownAgain) {
    AU::IAuMotionDevice* device = &g_motionDevice;
    EXPECT_EQ(CAuLowerEngine::CreateMotionDevice(1, 2, 0, 0, device, 0), AuResultFail);
    EXPECT_EQ(device, nullptr);

    ASSERT_EQ(CAuLowerEngine::RegisterMotionDevice(1, 2, MakeMotionDevice), AuResultSuccess);
    ASSERT_EQ(CAuLowerEngine::RegisterMotionDevice(3, 4, MakeNoMotionDevice), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::RegisterMotionDevice(1, 2, MakeMotionDevice), AuResultFail);
    EXPECT_EQ(CAuLowerEngine::CreateMotionDevice(3, 4, 0, 0, device, 0), AuResultFail);

    FakeMotionDevice::initResult = AuResultFail;
    FakeMotionDevice::terms = 0;
    EXPECT_EQ(CAuLowerEngine::CreateMotionDevice(1, 2, 5, 6, device, 7), AuResultFail);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(FakeMotionDevice::terms, 1);

    FakeMotionDevice::initResult = AuResultSuccess;
    EXPECT_EQ(CAuLowerEngine::CreateMotionDevice(1, 2, 5, 6, device, 7), AuResultSuccess);
    EXPECT_EQ(device, &g_motionDevice);
    EXPECT_EQ(FakeMotionDevice::settings[0], 5u);
    EXPECT_EQ(FakeMotionDevice::settings[2], 7u);
}

TEST_F(RegistriesTest, FreeingEmptiesEveryRegistryAndGivesTheMemoryBack) {
    ASSERT_EQ(CAuLowerEngine::RegisterCodec(0, 4, MakeStreamed, MakeInMemory), AuResultSuccess);
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 106, MakePlugin, MakeParams),
              AuResultSuccess);
    ASSERT_EQ(CAuLowerEngine::RegisterMotionDevice(1, 2, MakeMotionDevice), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::FreeRegistries(), AuResultSuccess);
    EXPECT_EQ(CAuLowerEngine::NumCodecs(), 0u);
    EXPECT_EQ(CAuLowerEngine::NumPlugins(), 0u);
    EXPECT_EQ(CAuLowerEngine::CreateCodecSource(nullptr, 1, 0x00040001), nullptr);
    EXPECT_EQ(Used(), m_usedAtStart);
}

// Each growth shows as a change in the pool's use: a table that doubles changes it a few times
// over a thousand registrations, one that grows by a row changes it at every one.
TEST_F(RegistriesTest, TablesGrowByDoubling) {
    constexpr u32 kRows = 1000;
    for (const bool codecs : {false, true}) {
        SCOPED_TRACE(codecs ? "codecs" : "plug-ins");
        u32 used = Used(), growths = 0;
        for (u32 id = 1; id <= kRows; ++id) {
            const AURESULT result =
                codecs ? CAuLowerEngine::RegisterCodec(0, id, MakeStreamed, MakeInMemory)
                       : CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, id, MakePlugin, MakeParams);
            ASSERT_EQ(result, AuResultSuccess) << id;
            growths += Used() != used;
            used = Used();
        }
        EXPECT_LE(growths, 10u);
    }
    EXPECT_EQ(CAuLowerEngine::NumPlugins(), kRows);
    EXPECT_EQ(CAuLowerEngine::NumCodecs(), kRows);
    EXPECT_EQ(CAuLowerEngine::CreateCodecSource(nullptr, 3, CAuLowerEngine::CodecKey(0, kRows)),
              kMemoryCodec);
}

// The bank thread and the audio thread look rows up while the game registers more: every lookup
// of a row registered before finds it, whatever growth it meets.
TEST_F(RegistriesTest, LookupsWhileOthersRegisterFindEveryEarlierRow) {
    ASSERT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 0, 106, MakePlugin, MakeParams),
              AuResultSuccess);
    ASSERT_EQ(CAuLowerEngine::RegisterCodec(0, 4, MakeStreamed, MakeInMemory), AuResultSuccess);
    const u32 pluginKey = CAuLowerEngine::PluginKey(AuPluginTypeEffect, 0, 106);
    const u32 codecKey = CAuLowerEngine::CodecKey(0, 4);
    std::atomic<bool> done{false};
    std::atomic<u32> lookups{0}, missed{0};
    std::thread reader([&] {
        while (!done.load() || lookups.load() == 0) {
            AU::IAuPluginParam* params = nullptr;
            AU::IAuPlugin* plugin = nullptr;
            missed += CAuLowerEngine::CreatePluginParams(nullptr, pluginKey, params) != AuResultSuccess;
            missed += CAuLowerEngine::CreatePlugin(nullptr, pluginKey, plugin) != AuResultSuccess;
            missed += CAuLowerEngine::CreateCodecSource(nullptr, 1, codecKey) != kStreamedCodec;
            ++lookups;
        }
    });
    for (u32 id = 1000; id < 3000; ++id) {
        EXPECT_EQ(CAuLowerEngine::RegisterPlugin(AuPluginTypeEffect, 77, id, MakePlugin, MakeParams),
                  AuResultSuccess);
        EXPECT_EQ(CAuLowerEngine::RegisterCodec(77, id, MakeStreamed, MakeInMemory), AuResultSuccess);
    }
    done.store(true);
    reader.join();
    EXPECT_GT(lookups.load(), 0u);
    EXPECT_EQ(missed.load(), 0u);
}
