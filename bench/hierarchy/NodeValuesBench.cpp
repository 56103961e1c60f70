// Gathering the accumulated values of slot 45 up a chain of nodes of depth 1 to 8, each with a
// 4-property bundle searched linearly, beside a flat array of 64 floats per node.
#include "core/AuObjectIndex.h"
#include "hierarchy/AuNodeBase.h"

#include <AU/MemoryMgr.h>

#include <benchmark/benchmark.h>

#include <array>
#include <new>
#include <vector>

namespace {

// A node that adds its own properties and asks its parent, as the parameter nodes do.
class ChainNode : public CAuNodeBase {
public:
    explicit ChainNode(u32 id) : CAuNodeBase(id) {}
    AuNodeCategory Category() override { return AuNodeCategory_Grouping; }
    void GetAccumulatedValues(AuAccumulatedValues& values, CAuRegisteredObj* gameObj) override {
        AddStateValues(values);
        if (values.mask & 1) values.values[0] += GetPropFloat(AuPropID_Volume);
        if (values.mask & 2) values.values[2] += GetPropFloat(AuPropID_Pitch);
        if (values.mask & 4) values.values[3] += GetPropFloat(3);
        if (values.mask & 8) values.values[4] += GetPropFloat(4);
        if (values.mask & 16) values.values[5] += GetPropFloat(AuPropID_BusVolume);
        if (CAuNodeBase* parent = Parent()) parent->GetAccumulatedValues(values, gameObj);
    }
    AURESULT AddChild(CAuNodeBase* child) override {
        child->SetParent(this);
        child->Release();
        return AuResultSuccess;
    }

    AURESULT ExecuteAction(const AuActionExec&) override { return AuResultSuccess; }
    AURESULT ExecuteActionExcept(const AuActionExec&) override { return AuResultSuccess; }
    AURESULT ExecuteActionExceptChecked(const AuActionExec&) override { return AuResultSuccess; }
    AURESULT PlayToEnd(CAuRegisteredObj*, u32, AuPlayingID) override { return AuResultSuccess; }
    void ParamNotification(const AuParamChange&) override {}
    void LevelNotificationForObject(f32, CAuRegisteredObj*, const void*) override {}
    void LevelNotification(f32, const void*) override {}
    void SetBusValue(f32, u32, CAuRegisteredObj*, bool) override {}
    void RecalcNotification() override {}
    void BypassNotification(u32, u32, CAuRegisteredObj*, bool) override {}
    void EffectChanged(u32) override {}
    AURESULT IncrementPlayCount(void*) override { return AuResultSuccess; }
    void DecrementPlayCount(void*) override {}
    void IncrementVirtualCount(void*) override {}
    void DecrementVirtualCount(void*) override {}
    AURESULT PrepareData() override { return AuResultSuccess; }
    void UnPrepareData() override {}
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
    void SetMaxNumInstances(u16, CAuRegisteredObj*, const CAuRTPCFilter*, bool) override {}
    void SetFxBypassBits(u8, u8) override {}
    void GetFx(u32, AuEffectRecord&, CAuRegisteredObj*) override {}
    u32 GetFxMediaID(u32, u32) override { return 0; }
    bool GetBypassAllFx(CAuRegisteredObj*) override { return false; }
    AURESULT SetInitialParams(AuRecordCursor&) override { return AuResultSuccess; }
    AURESULT SetInitialFxParams(AuRecordCursor&, bool) override { return AuResultSuccess; }
    CAuModifiedValues* GetModifiedValues(CAuRegisteredObj*) override { return nullptr; }
};

// The engine's pools and index for one run, and a chain of `depth` nodes with 4 properties each
// (the wanted ones last, so the search walks the bundle).
class Chain {
public:
    explicit Chain(u32 depth) {
        const AuMemoryMgrSettings settings{8};
        AU::MemoryMgr::Init(&settings);
        g_DefaultPoolId = AU::MemoryMgr::CreatePool(nullptr, 1u << 20, 64, AuPoolAttrMalloc, 0);
        g_pIndex = &m_index;
        m_index.Init();
        for (u32 level = 0; level < depth; ++level) {
            void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(ChainNode));
            auto* node = new (memory) ChainNode(level + 1);
            node->AddToIndex();
            for (u8 id : {u8{40}, u8{AuPropID_BusVolume}, u8{AuPropID_Pitch}, u8{AuPropID_Volume}}) {
                AuPropValue value;
                value.f = 0.5f;
                node->Props().SetValue(id, value);
            }
            if (!m_nodes.empty()) {
                node->AddRef();
                m_nodes.back()->AddChild(node);
            }
            m_nodes.push_back(node);
        }
    }
    ~Chain() {
        for (auto it = m_nodes.rbegin(); it != m_nodes.rend(); ++it)
            (*it)->Release();
        m_index.Term();
        g_pIndex = nullptr;
        AU::MemoryMgr::Term();
    }
    ChainNode* Leaf() { return m_nodes.back(); }

private:
    CAuObjectIndex m_index;
    std::vector<ChainNode*> m_nodes;
};

void BM_AccumulatedValues(benchmark::State& state) {
    Chain chain(static_cast<u32>(state.range(0)));
    ChainNode* leaf = chain.Leaf();
    for (auto _ : state) {
        AuAccumulatedValues values;
        values.mask = 0x13; // volume, pitch and bus volume
        leaf->GetAccumulatedValues(values, nullptr);
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(BM_AccumulatedValues)->DenseRange(1, 8);

// The design alternative: every property in a flat array, no search and no defaults to find.
void BM_AccumulatedValuesFlatArray(benchmark::State& state) {
    std::vector<std::array<f32, 64>> chain(static_cast<size_t>(state.range(0)));
    for (auto& props : chain) {
        props.fill(0.0f);
        props[AuPropID_Volume] = props[AuPropID_Pitch] = props[AuPropID_BusVolume] = 0.5f;
    }
    for (auto _ : state) {
        AuAccumulatedValues values;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            values.values[0] += (*it)[AuPropID_Volume];
            values.values[2] += (*it)[AuPropID_Pitch];
            values.values[5] += (*it)[AuPropID_BusVolume];
        }
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(BM_AccumulatedValuesFlatArray)->DenseRange(1, 8);

} // namespace
