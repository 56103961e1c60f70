// The lower engine's bus operations as text lines, installed for the life of the fake.
#pragma once

#include "voices/AuLowerEngineSeams.h"

#include <cstdio>
#include <string>
#include <vector>

namespace banktest {

class RecordingBusOps final : public IAuBusOps {
public:
    RecordingBusOps() : m_previous(AuBusOpsSeam::Get()) { AuBusOpsSeam::Install(this); }
    ~RecordingBusOps() { AuBusOpsSeam::Install(m_previous); }
    RecordingBusOps(const RecordingBusOps&) = delete;
    RecordingBusOps& operator=(const RecordingBusOps&) = delete;

    void SetBusVolume(u32 busID, f32 volumeDb) noexcept override { Add("volume %08X %.2f", busID, volumeDb); }
    void OffsetBusVolume(u32 busID, f32 offsetDb) noexcept override {
        Add("offset %08X %.2f", busID, offsetDb);
    }
    void SetBusProperty(u32 busID, f32 value, u32 propertyID) noexcept override {
        Add("property %08X %u %.2f", busID, propertyID, value);
    }
    void BypassBusEffects(u32 busID, u32 bits, u32 mask) noexcept override {
        Add("bypass %08X %02X/%02X", busID, bits, mask);
    }
    void UpdateBusEffect(u32 busID, u32 slot) noexcept override { Add("effect %08X %u", busID, slot); }
    void SetBusMeteringFlags(u32 busID, u8 flags) noexcept override {
        Add("metering %08X %02X", busID, flags);
    }
    void EnableBusVolumeCallback(u32 busID, bool enable) noexcept override {
        Add("callback %08X %d", busID, enable ? 1 : 0);
    }

    std::vector<std::string> calls;

private:
    template <class... Args> void Add(const char* format, Args... args) noexcept {
        char text[96];
        snprintf(text, sizeof(text), format, args...);
        calls.emplace_back(text);
    }

    IAuBusOps* m_previous;
};

} // namespace banktest
