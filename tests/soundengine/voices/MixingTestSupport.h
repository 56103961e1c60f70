// The mixing tests' bus nodes: a tree of fake hierarchy busses with the properties, layouts and
// dynamic-range settings a test gives them, counting their references; and the plug-in settings
// their insert slots and the effect nodes run.
#pragma once

#include "core/AuObjectIndex.h"
#include "plugins/AuPlugin.h"
#include "plugins/AuPluginSettings.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuMixBusNode.h"

#include <bankgen/Records.h>
#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace voicetest {

class FakeBusNode final : public IAuMixBusNode {
public:
    FakeBusNode(u32 id, FakeBusNode* parent = nullptr) : id(id), parent(parent) {}

    void AddRef() noexcept override { ++refs; }
    void Release() noexcept override { --refs; }
    u32 BusNodeID() noexcept override { return id; }
    IAuMixBusNode* ParentBusNode() noexcept override { return parent; }
    AuChannelConfig ChannelConfig() noexcept override { return config; }
    f32 GetProperty(u32 property) noexcept override {
        const auto it = props.find(property);
        return it == props.end() ? 0.0f : it->second;
    }
    bool HasPositioning() noexcept override { return positioning; }
    bool IsMotionBus() noexcept override { return motion; }
    bool HasDynamicRange() noexcept override { return dynamicRange; }
    bool ReleaseInDecibels() noexcept override { return releaseInDb; }
    bool TakeDynamicRangeChanged() noexcept override {
        const bool was = dynamicsChanged;
        dynamicsChanged = false;
        return was;
    }
    void SetDynamicRangeGain(f32 dB) noexcept override { dynamicGainDb = dB; }
    f32 OutputBusVolumeDb() noexcept override { return outputBusVolumeDb; }
    bool GetLevelWindow(AuLevelWindow& out) noexcept override {
        if (!hasWindow) return false;
        out = window;
        return true;
    }
    void ReportLevel(f32 dB) noexcept override { reportedLevel = dB; }
    void GetInsertEffect(u32 slot, AuEffectRecord& record) noexcept override {
        record = AuEffectRecord{};
        if (slot != effectSlot || !effectSettings) return;
        effectSettings->AddRef();
        record = {effectSettings, effectBypass};
    }
    bool BypassAllEffects() noexcept override { return bypassAll; }
    void GetMixerPlugin(AuEffectRecord& record) noexcept override {
        record = AuEffectRecord{};
        if (!mixerSettings) return;
        mixerSettings->AddRef();
        record.pSettings = mixerSettings;
    }

    u32 id;
    FakeBusNode* parent;
    AuChannelConfig config;
    std::map<u32, f32> props;
    bool positioning = false;
    bool motion = false;
    bool dynamicRange = false;
    bool releaseInDb = true;
    bool dynamicsChanged = true;
    f32 dynamicGainDb = 0.0f;
    f32 outputBusVolumeDb = 0.0f;
    bool hasWindow = false;
    AuLevelWindow window;
    f32 reportedLevel = 0.0f;
    // One insert slot's settings; the node holds no reference of its own on them.
    u32 effectSlot = 99;
    CAuPluginSettings* effectSettings = nullptr;
    bool effectBypass = false;
    bool bypassAll = false;
    // The mixer plug-in's settings; the node holds no reference of its own on them.
    CAuPluginSettings* mixerSettings = nullptr;
    int refs = 0;
};

// Plug-in settings of one type in an object index of their own, as a bank's loader leaves them.
// Term releases every one made (before the lower engine's pool goes, which their parameter objects
// live in); a second Term finds the index gone and does nothing more.
template <class Settings> class SettingsIndex {
public:
    void Init() {
        m_index.Init();
        g_pIndex = &m_index;
    }
    void Term() {
        for (CAuPluginSettings* settings : m_made)
            settings->Release();
        m_made.clear();
        if (g_pIndex == &m_index) {
            m_index.Term();
            g_pIndex = nullptr;
        }
    }
    // Settings read from a bank record, as the loader reads them.
    CAuPluginSettings* Load(const bankgen::PluginSettingsRecord& record) {
        CAuPluginSettings* settings = Create(record.id);
        if (!settings) return nullptr;
        bankgen::EncodeContext context;
        const bankgen::Bytes payload = bankgen::EncodePayload(record, context);
        EXPECT_EQ(settings->LoadPluginSettings(payload.data(), static_cast<u32>(payload.size())),
                  AuResultSuccess);
        return settings;
    }

protected:
    // Empty settings, released by Term.
    CAuPluginSettings* Create(u32 id) {
        CAuPluginSettings* settings = Settings::Create(id);
        EXPECT_NE(settings, nullptr);
        if (settings) m_made.push_back(settings);
        return settings;
    }

private:
    CAuObjectIndex m_index;
    std::vector<CAuPluginSettings*> m_made;
};

// Shared settings for the busses' insert slots.
class InsertSettings : public SettingsIndex<CAuPluginSettingsType18> {
public:
    // Settings whose parameter object the registered plug-in of `pluginKey` makes from `block`.
    CAuPluginSettings* Make(u32 id, u32 pluginKey, const void* block = nullptr, u32 size = 0) {
        CAuPluginSettings* settings = Create(id);
        if (!settings) return nullptr;
        AU::IAuPluginMemAlloc* allocator = &CAuLowerEngine::PluginAllocator();
        AU::IAuPluginParam* params = nullptr;
        EXPECT_EQ(CAuLowerEngine::CreatePluginParams(allocator, pluginKey, params), AuResultSuccess);
        if (!params) return settings;
        EXPECT_EQ(params->Init(allocator, block, size), AuResultSuccess);
        settings->SetParamObject(pluginKey, params);
        return settings;
    }
};

} // namespace voicetest
