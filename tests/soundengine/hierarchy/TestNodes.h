// Small node classes over the real node base: containers and busses that keep counted children,
// and a record of what reached the slots the tests watch.
#pragma once

#include "hierarchy/AuNodeBase.h"

#include <AU/MemoryMgr.h>

#include <gtest/gtest.h>

#include "parameters/AuRTPCMgr.h"

#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace nodetest {

inline std::mutex g_traceLock;
inline std::vector<std::string> g_trace;
inline std::atomic<int> g_live = 0;

inline void Trace(std::string line) {
    std::lock_guard guard(g_traceLock);
    g_trace.push_back(std::move(line));
}

class TestNode : public CAuNodeBase {
public:
    // Made in the default pool and entered in the index, as the loader does.
    template <class T = TestNode> static T* Make(u32 id, AuNodeCategory category = AuNodeCategory_Grouping) {
        void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
        T* node = new (memory) T(id, category);
        node->AddToIndex();
        return node;
    }

    TestNode(u32 id, AuNodeCategory category) : CAuNodeBase(id), m_category(category) {
        if (AuIsBusCategory(category)) SetFlagsB(AU_NODE_B_IS_BUS, true);
        ++g_live;
    }
    ~TestNode() override {
        Trace("destroy " + std::to_string(key));
        EXPECT_EQ(m_children.size(), 0u) << "children hold a reference";
        --g_live;
    }

    // Busses give the child its bus, default busses make themselves its extra owner, other
    // nodes become its parent.
    AURESULT AddChild(CAuNodeBase* child) override {
        AURESULT result = AuResultSuccess;
        if (m_category == AuNodeCategory_DefaultBus) {
            result = child->SetExtraOwner(this);
        } else if (AuIsBusCategory(m_category)) {
            child->SetBus(this);
        } else {
            child->SetParent(this);
        }
        if (result == AuResultSuccess) {
            m_children.push_back(child);
            AddRef();
        }
        child->Release();
        return result;
    }
    void RemoveChild(CAuNodeBase* child) override {
        Trace("remove " + std::to_string(child->key) + " from " + std::to_string(key));
        for (size_t i = 0; i < m_children.size(); ++i) {
            if (m_children[i] != child) continue;
            m_children.erase(m_children.begin() + i);
            Release();
            return;
        }
    }
    void ClearStateTransitions() override { Trace("slot5 " + std::to_string(key)); }

    AuNodeCategory Category() override { return m_category; }
    bool NotifyChildren(void*, void*, u32, u32, u32) override {
        ++notified;
        return true;
    }
    AURESULT ExecuteAction(const AuActionExec& exec) override {
        executed.push_back(exec);
        return AuResultSuccess;
    }
    AURESULT ExecuteActionExcept(const AuActionExec&) override { return AuResultSuccess; }
    AURESULT ExecuteActionExceptChecked(const AuActionExec&) override { return AuResultSuccess; }
    AURESULT PlayToEnd(CAuRegisteredObj*, u32, AuPlayingID) override { return AuResultSuccess; }
    void ParamNotification(const AuParamChange& change) override { changes.push_back(change); }
    void LevelNotificationForObject(f32 level, CAuRegisteredObj*, const void*) override {
        levels.push_back(level);
    }
    void LevelNotification(f32 level, const void*) override { levels.push_back(level); }
    void SetBusValue(f32 value, u32 target, CAuRegisteredObj*, bool) override {
        forwarded.push_back({target, value});
    }
    void RecalcNotification() override {}
    void BypassNotification(u32 bits, u32 mask, CAuRegisteredObj*, bool) override {
        bypasses.push_back({bits, mask});
    }
    void EffectChanged(u32 slot) override { effectChanges.push_back(slot); }
    AURESULT IncrementPlayCount(void*) override { return AuResultSuccess; }
    void DecrementPlayCount(void*) override {}
    void IncrementVirtualCount(void*) override {}
    void DecrementVirtualCount(void*) override {}
    AURESULT PrepareData() override { return prepareResult; }
    void UnPrepareData() override { ++unprepared; }
    void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj*) override {
        if (values.mask & 1) values.values[0] += GetPropFloat(AuPropID_Volume);
        if (values.mask & 2) values.values[2] += GetPropFloat(AuPropID_Pitch);
        if (values.mask & 4) values.values[3] += GetPropFloat(3);
        if (values.mask & 8) values.values[4] += GetPropFloat(4);
        if (values.mask & 16) values.values[5] += GetPropFloat(AuPropID_BusVolume);
        if (Parent()) Parent()->GetAccumulatedValues(values, nullptr);
    }
    AURESULT SetValueFromAction(u8, f32, CAuRegisteredObj*, i32, AuCurveInterpolation, u32) override {
        return AuResultSuccess;
    }
    AURESULT ResetValueFromAction(u8, CAuRegisteredObj*, i32, AuCurveInterpolation) override {
        return AuResultSuccess;
    }
    AURESULT MuteFromAction(CAuRegisteredObj*, i32, AuCurveInterpolation) override { return AuResultSuccess; }
    AURESULT UnmuteFromAction(CAuRegisteredObj*, i32, AuCurveInterpolation) override {
        return AuResultSuccess;
    }
    AURESULT UnmuteAllFromAction(i32, AuCurveInterpolation) override { return AuResultSuccess; }
    void RecalcProps(u32 arg) noexcept override { recalcs.push_back(arg); }
    void SetMaxNumInstances(u16 limit, CAuRegisteredObj*, const CAuRTPCFilter*, bool fromCurve) override {
        limits.push_back({limit, fromCurve});
    }
    void SetFxBypassBits(u8 bits, u8 mask) override { fxBypass.push_back({bits, mask}); }
    void GetFx(u32, AuEffectRecord& io, CAuRegisteredObj*) override {
        if (io.pSettings) io.pSettings->Release();
        io = AuEffectRecord{};
    }
    u32 GetFxMediaID(u32, u32) override { return 0; }
    bool GetBypassAllFx(CAuRegisteredObj*) override { return false; }
    void ApplyParamValue(f32 value, u32 target, CAuRegisteredObj*) override {
        applied.push_back({target, value});
    }
    void RTPCTargetChanged(u32 target) override { targetChanges.push_back(target); }
    // One holder, for the first game object asked about.
    CAuModifiedValues* GetModifiedValues(CAuRegisteredObj* gameObj) override {
        if (!m_pModifiedValues) m_pModifiedValues = CreateModifiedValues(gameObj);
        return m_pModifiedValues;
    }

    // The minimal parts of the parameter nodes' record, consumed without being interpreted:
    // override byte and effect count 0; property and range counts 0; positioning and aux bytes 0;
    // six advanced-settings bytes.
    AURESULT SetInitialFxParams(AuRecordCursor& cursor, bool) override { return Consume(cursor, 2); }
    AURESULT SetInitialParams(AuRecordCursor& cursor) override { return Consume(cursor, 2); }
    AURESULT SetPositioningParams(AuRecordCursor& cursor) override { return Consume(cursor, 1); }
    AURESULT SetAuxParams(AuRecordCursor& cursor) override { return Consume(cursor, 1); }
    AURESULT SetAdvSettingsParams(AuRecordCursor& cursor) override { return Consume(cursor, 6); }

    // A curve on the target, subscribed as the bank reader does.
    AURESULT SubscribeCurve(u32 paramID, u32 target, std::vector<AuCurvePoint> points, u32 curveID = 1) {
        m_uRTPCMask |= u64{1} << target;
        return g_pRTPCMgr->SubscribeRTPC(this, paramID, 0, 0, target, curveID, 0, points.data(),
                                         static_cast<u32>(points.size()), AuRTPCKey{}, SubscriberKind());
    }

    using CAuNodeBase::SetFlagsA;
    using CAuNodeBase::SetFlagsB;
    using CAuNodeBase::SetLimitWord;

    struct Pair {
        u32 a;
        f32 b;
    };
    std::vector<CAuNodeBase*> m_children;
    std::vector<AuActionExec> executed;
    std::vector<AuParamChange> changes;
    std::vector<f32> levels;
    std::vector<Pair> forwarded;
    std::vector<std::pair<u32, u32>> bypasses;
    std::vector<std::pair<u8, u8>> fxBypass;
    std::vector<u32> effectChanges;
    std::vector<u32> recalcs;
    std::vector<std::pair<u16, bool>> limits;
    std::vector<Pair> applied;
    std::vector<u32> targetChanges;
    AURESULT prepareResult = AuResultSuccess;
    int unprepared = 0;
    int notified = 0;

private:
    static AURESULT Consume(AuRecordCursor& cursor, u32 bytes) {
        return cursor.Skip(bytes) ? AuResultSuccess : AuResultBadHeader;
    }
    AuNodeCategory m_category;
};

} // namespace nodetest
