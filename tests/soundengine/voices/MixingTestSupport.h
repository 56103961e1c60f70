// The mixing tests' bus nodes: a tree of fake hierarchy busses with the properties, layouts and
// dynamic-range settings a test gives them, counting their references.
#pragma once

#include "voices/AuMixBusNode.h"

#include <map>

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
    bool GetInsertEffect(u32 slot, u32& key, AU::IAuPluginParam*& settings) noexcept override {
        if (slot != effectSlot || !effectSettings) return false;
        key = effectKey;
        settings = effectSettings;
        return true;
    }
    bool BypassAllEffects() noexcept override { return bypassAll; }

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
    u32 effectSlot = 99;
    u32 effectKey = 0;
    AU::IAuPluginParam* effectSettings = nullptr;
    bool bypassAll = false;
    int refs = 0;
};

} // namespace voicetest
