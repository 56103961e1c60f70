#include "voices/AuBusGraph.h"

#include "core/AuOutputTiming.h"
#include "voices/AuLowerEngine.h"

#include "parameters/AuFastMath.h"

#include <cmath>
#include <new>

namespace {

// Bus chains deeper than this are a cycle in the bank's data.
constexpr u32 kMaxBusDepth = 64;
// The keep bit holds a bus while its envelope is this far above its target.
constexpr f32 kKeepMarginDb = 0.5f;
constexpr f32 kReleaseRate = 48000.0f;

f32 GainToDb(f32 gain) {
    return gain > 0.0f ? 20.0f * std::log10(gain) : CAuOutputBus::kSilentDb;
}

} // namespace

void CAuOutputBus::UpdateDynamicRange() noexcept {
    const f32 ownDb = GainToDb(CurrentGain());
    IAuMixBusNode* node = Node();
    if (node && (!m_bDynamicsRead || node->TakeDynamicRangeChanged())) {
        m_bDynamicsRead = true;
        m_fThresholdDb = node->GetProperty(AuBusProperty_DynamicThreshold);
        if (!std::isfinite(m_fThresholdDb)) m_fThresholdDb = 0.0f;
        // A ratio of 0 or less, or not finite, would poison every gain: it compresses nothing.
        f32 ratio = node->GetProperty(AuBusProperty_DynamicRatio);
        if (!(ratio > 0.0f) || !std::isfinite(ratio)) ratio = 1.0f;
        m_fRatioTerm = 1.0f - 1.0f / ratio;
        const f32 release = node->GetProperty(AuBusProperty_DynamicRelease);
        if (release != m_fReleaseTime) {
            m_fReleaseTime = release;
            m_fReleaseCoef = release > 0.0f && std::isfinite(release)
                                 ? std::exp(-f32(g_uNumSamplesPerFrame) / (release * kReleaseRate))
                                 : 0.0f;
        }
    }
    const f32 over = m_fPeakDb - ownDb - m_fThresholdDb;
    const f32 target = over > 0.0f ? m_fThresholdDb + over * m_fRatioTerm : m_fThresholdDb;
    const f32 c = m_fReleaseCoef;
    if (m_uFlags & kFlagReleaseInDb) {
        if (target >= m_fEnvelopeDb)
            m_fEnvelopeDb = target;
        else
            m_fEnvelopeDb = (1.0f - c) * target + c * m_fEnvelopeDb;
    } else {
        const f32 targetLinear =
            target * 0.05f < -37.0f ? 0.0f : AuDbToLinear(target < 770.0f ? target : 770.0f);
        if (targetLinear >= m_fEnvelopeLinear)
            m_fEnvelopeLinear = targetLinear;
        else
            m_fEnvelopeLinear = (1.0f - c) * targetLinear + c * m_fEnvelopeLinear;
        m_fEnvelopeDb = GainToDb(m_fEnvelopeLinear);
    }
    if (m_fEnvelopeDb - target >= kKeepMarginDb) m_uFlags |= kFlagKeep;
    m_fGainDb = m_fEnvelopeDb + ownDb;
    if (node) node->SetDynamicRangeGain(m_fGainDb);
    m_fPeakDb = kSilentDb;
}

CAuOutputBus* CAuBusGraph::FindBus(u32 busID, u32 deviceType, u32 deviceId) const noexcept {
    for (u32 i = 0; i < m_busses.Count(); ++i) {
        CAuOutputBus* bus = m_busses[i];
        if (bus->BusID() == busID && bus->DeviceType() == deviceType && bus->DeviceId() == deviceId &&
            bus->State() != CAuOutputBus::kRemoving)
            return bus;
    }
    return nullptr;
}

bool CAuBusGraph::Reserve() noexcept {
    return m_busses.Count() < m_busses.Capacity() || m_busses.Grow(kGrowBy);
}

CAuOutputBus* CAuBusGraph::GetMasterBus(u32 deviceType, u32 deviceId) noexcept {
    if (CAuOutputBus* master = FindBus(kMasterBusID, deviceType, deviceId)) return master;
    CAuOutputDevice* device = CAuLowerEngine::FindDevice(deviceType, deviceId);
    if (!device || !device->channelConfig.NumChannels() || !Reserve()) return nullptr;
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CAuOutputBus), 16);
    if (!block) return nullptr;
    auto* master = new (block) CAuOutputBus();
    if (master->Init(deviceType, deviceId, device->channelConfig, device->channelConfig,
                     g_uNumSamplesPerFrame, nullptr) != AuResultSuccess) {
        DestroyBus(master);
        return nullptr;
    }
    // First in the array: the frame mixes from the last bus to the first, parents after children.
    m_busses.Insert(0, master);
    return master;
}

CAuOutputBus* CAuBusGraph::GetOrCreateBus(IAuMixBusNode* node, u32 deviceType, u32 deviceId) noexcept {
    return GetOrCreate(node, deviceType, deviceId, 0);
}

CAuOutputBus* CAuBusGraph::GetOrCreate(IAuMixBusNode* node, u32 deviceType, u32 deviceId,
                                       u32 depth) noexcept {
    if (!node) return GetMasterBus(deviceType, deviceId);
    if (CAuOutputBus* bus = FindBus(node->BusNodeID(), deviceType, deviceId)) return bus;
    if (depth >= kMaxBusDepth) return nullptr;
    IAuMixBusNode* parentNode = node->ParentBusNode();
    CAuOutputBus* parent = parentNode ? GetOrCreate(parentNode, deviceType, deviceId, depth + 1)
                                      : GetMasterBus(deviceType, deviceId);
    if (!parent) return nullptr;
    return CreateBus(node, deviceType, deviceId, parent);
}

CAuOutputBus* CAuBusGraph::CreateBus(IAuMixBusNode* node, u32 deviceType, u32 deviceId,
                                     CAuOutputBus* parent) noexcept {
    if (!Reserve()) return nullptr;
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CAuOutputBus), 16);
    if (!block) return nullptr;
    auto* bus = new (block) CAuOutputBus();
    bus->m_pParent = parent;
    ++parent->m_uNumChildren;
    if (node->HasDynamicRange()) bus->m_uFlags |= CAuOutputBus::kFlagDynamicRange;
    if (node->ReleaseInDecibels()) bus->m_uFlags |= CAuOutputBus::kFlagReleaseInDb;
    // A layout the device cannot take (no channels, or more than a frame's rows) inherits.
    AuChannelConfig config = node->ChannelConfig();
    if (!config.NumChannels() || config.NumChannels() > 32) config = parent->Config();
    u16 frames = g_uNumSamplesPerFrame;
    if (node->IsMotionBus()) {
        bus->m_uFlags |= CAuOutputBus::kFlagMotion;
        config = AuChannelConfig::Standard(AU_SPEAKER_FRONT_CENTER);
        frames = CAuOutputBus::kMotionFrames;
    }
    if (bus->Init(deviceType, deviceId, config, parent->Config(), frames, node) != AuResultSuccess) {
        --parent->m_uNumChildren;
        DestroyBus(bus);
        return nullptr;
    }
    m_busses.AddLast(bus);
    return bus;
}

void CAuBusGraph::DestroyBus(CAuOutputBus* bus) noexcept {
    bus->~CAuOutputBus();
    AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, bus);
}

void CAuBusGraph::UpdateVolumes() noexcept {
    // Parents come before their children in the array.
    for (u32 i = 0; i < m_busses.Count(); ++i) {
        CAuOutputBus* bus = m_busses[i];
        bus->m_fCumulative = bus->CurrentGain() * (bus->m_pParent ? bus->m_pParent->m_fCumulative : 1.0f);
    }
}

void CAuBusGraph::UpdateDynamicRanges() noexcept {
    for (u32 i = m_busses.Count(); i-- > 0;)
        if (m_busses[i]->Flags() & CAuOutputBus::kFlagDynamicRange) m_busses[i]->UpdateDynamicRange();
}

void CAuBusGraph::MixBusses() noexcept {
    for (u32 i = m_busses.Count(); i-- > 0;) {
        CAuOutputBus* bus = m_busses[i];
        AuPipelineBuffer out;
        bus->GetResultingBuffer(out);
        // A motion bus's buffer is the motion devices' to take; no audio device mixes it.
        if (out.uValidFrames && !(bus->Flags() & CAuOutputBus::kFlagMotion)) {
            if (CAuOutputBus* parent = bus->m_pParent) {
                parent->Connect();
                parent->MixBus(out, *bus);
            } else {
                CAuLowerEngine::MixBusIntoDevice(bus->DeviceType(), bus->DeviceId(), out);
            }
        }
        bus->ClearBuffer();
    }
}

void CAuBusGraph::RemoveIdleBusses() noexcept {
    for (u32 i = m_busses.Count(); i-- > 0;) {
        CAuOutputBus* bus = m_busses[i];
        // A paused or virtual voice keeps its output on the bus while it mixes nothing: such a
        // bus stays.
        if (bus->Activity() == CAuMixBus::kIdle && !bus->m_uNumChildren && !bus->NumInputs() &&
            !bus->Keeps()) {
            bus->m_uState = CAuOutputBus::kRemoving;
            if (bus->m_pParent) --bus->m_pParent->m_uNumChildren;
            DestroyBus(bus);
            m_busses.EraseOrdered(i);
        } else {
            bus->m_uFlags &= ~CAuOutputBus::kFlagKeep;
        }
    }
}

void CAuBusGraph::DestroyAllBusses() noexcept {
    for (u32 i = m_busses.Count(); i-- > 0;) {
        CAuOutputBus* bus = m_busses[i];
        if (bus->m_pParent) --bus->m_pParent->m_uNumChildren;
        DestroyBus(bus);
    }
    while (m_busses.Count())
        m_busses.EraseOrdered(m_busses.Count() - 1);
}

void CAuBusGraph::Term() noexcept {
    DestroyAllBusses();
    m_busses.Term();
}

void CAuBusGraph::ForEachPluginInstance(const CAuPluginSettings& settings, AuPluginInstanceVisit visit,
                                        void* context) noexcept {
    for (u32 i = 0; i < m_busses.Count(); ++i)
        for (u32 slot = 0; slot < AU_BUS_INSERT_SLOTS; ++slot)
            if (CAuPluginParamHolder* holder = m_busses[i]->InsertHolder(slot);
                holder && &holder->Settings() == &settings)
                visit(*holder, context);
    for (u32 i = 0; i < m_busses.Count(); ++i)
        if (CAuPluginParamHolder* holder = m_busses[i]->MixerHolder();
            holder && &holder->Settings() == &settings)
            visit(*holder, context);
}

void CAuBusGraph::ReleaseEffectsUsingData(const u8* data, u32 size) noexcept {
    for (u32 i = 0; i < m_busses.Count(); ++i)
        if (m_busses[i]->UsesData(data, size)) m_busses[i]->TearDownEffects();
}

void CAuBusGraph::SetBusVolume(u32 busID, f32 volumeDb) noexcept {
    ForEachOfNode(busID, [&](CAuOutputBus& bus) { bus.SetVolume(volumeDb); });
}

void CAuBusGraph::OffsetBusVolume(u32 busID, f32 offsetDb) noexcept {
    ForEachOfNode(busID, [&](CAuOutputBus& bus) { bus.OffsetVolume(offsetDb); });
}

void CAuBusGraph::SetBusProperty(u32 busID, f32 value, u32 propertyID) noexcept {
    ForEachOfNode(busID, [&](CAuOutputBus& bus) { bus.SetParam(propertyID, value); });
}

void CAuBusGraph::BypassBusEffects(u32 busID, u32 bypassBits, u32 mask) noexcept {
    ForEachOfNode(busID, [&](CAuOutputBus& bus) { bus.SetInsertFxBypass(bypassBits, mask); });
}

void CAuBusGraph::UpdateBusEffect(u32 busID, u32 slot) noexcept {
    ForEachOfNode(busID, [&](CAuOutputBus& bus) { bus.SetInsertFx(slot); });
}

void CAuBusGraph::SetBusMeteringFlags(u32 busID, u8 flags) noexcept {
    ForEachOfNode(busID, [&](CAuOutputBus& bus) { bus.SetCallbackMetering(flags); });
}

void CAuBusGraph::EnableBusVolumeCallback(u32 busID, bool enable) noexcept {
    ForEachOfNode(busID, [&](CAuOutputBus& bus) { bus.EnableVolumeCallback(enable); });
}
