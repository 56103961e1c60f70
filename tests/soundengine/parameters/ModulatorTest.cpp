#include "ModulatorFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

namespace {

using bankgen::CurvePoint;
using bankgen::HierarchyType;
using bankgen::ModulatorRecord;
using bankgen::PropF;
using bankgen::PropI;
using bankgen::RangeF;
using bankgen::RtpcCurve;

constexpr u32 kParam = 700;

RtpcCurve Binding(u8 property, u32 driving = kParam, u8 drivingType = 0) {
    RtpcCurve curve;
    curve.gameParameter = driving;
    curve.drivingType = drivingType;
    curve.target = property;
    curve.curveId = 10u + property;
    curve.points = {CurvePoint{0.0f, 0.0f, 4}, CurvePoint{100.0f, 100.0f, 4}};
    return curve;
}

struct PayloadCase {
    std::string name;
    ModulatorRecord record;
    u32 mask;
};

void PrintTo(const PayloadCase& c, std::ostream* out) {
    *out << c.name;
}

class ModulatorPayloadTest : public ModulatorFixture, public testing::WithParamInterface<PayloadCase> {};

TEST_P(ModulatorPayloadTest, ReadsBundlesRangesAndBindingsAndMasksOnly42To73) {
    const PayloadCase& c = GetParam();
    AURESULT result = AuResultSuccess;
    CAuModulator* modulator = Load(c.record, &result);
    ASSERT_EQ(result, AuResultSuccess);
    ASSERT_NE(modulator, nullptr);
    EXPECT_EQ(modulator->Kind(),
              c.record.type == HierarchyType::Lfo ? AuModulatorKind_Lfo : AuModulatorKind_Envelope);
    EXPECT_EQ(modulator->RTPCMask(), c.mask);
    for (const bankgen::Prop& prop : c.record.props) {
        f32 expected;
        memcpy(&expected, &prop.bits, 4);
        if (prop.id == AuModulatorProp_Scope || prop.id == AuModulatorProp_LfoWaveform ||
            prop.id == AuModulatorProp_EnvTrigger || prop.id == AuModulatorProp_StopOnEnd)
            EXPECT_EQ(modulator->PropInt(prop.id), static_cast<i32>(prop.bits)) << int(prop.id);
        else
            EXPECT_EQ(modulator->PropFloat(prop.id), expected) << int(prop.id);
    }
    EXPECT_EQ(g_pIndex->Table(AuIndexModulators).Count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModulatorPayloadTest,
    testing::Values(PayloadCase{"EmptyLfo", ModulatorRecord{HierarchyType::Lfo, 1, {}, {}, {}}, 0},
                    PayloadCase{"LfoBundles",
                                ModulatorRecord{HierarchyType::Lfo,
                                                2,
                                                {PropI(0, 2), PropF(2, 50.0f), PropF(4, 3.0f), PropI(5, 2)},
                                                {RangeF(2, -10.0f, 10.0f)},
                                                {}},
                                0},
                    PayloadCase{
                        "BindingsOnly42To73",
                        ModulatorRecord{HierarchyType::Lfo,
                                        3,
                                        {},
                                        {},
                                        {Binding(41), Binding(42), Binding(48), Binding(73), Binding(74)}},
                        (1u << 0) | (1u << 6) | (1u << 31)},
                    PayloadCase{"EnvelopeBindings",
                                ModulatorRecord{HierarchyType::Envelope,
                                                4,
                                                {PropF(9, 0.1f), PropF(12, 50.0f), PropF(14, 0.2f)},
                                                {},
                                                {Binding(50), Binding(55)}},
                                (1u << 8) | (1u << 13)},
                    // The driving modulator is not loaded: the subscription fails, the read does not.
                    PayloadCase{"FailedSubscription",
                                ModulatorRecord{HierarchyType::Lfo, 5, {}, {}, {Binding(42, 0xDEAD, 2)}}, 0}),
    [](const testing::TestParamInfo<PayloadCase>& info) { return info.param.name; });

TEST_F(ModulatorFixture, APayloadCutInsideACountFailsWith7AndTheModulatorGoes) {
    const std::vector<u8> full = Payload(
        ModulatorRecord{HierarchyType::Envelope, 9, {PropF(9, 1.0f)}, {RangeF(9, 0, 1)}, {Binding(50)}});
    // ID 4, properties 1 + 1 + 4, ranges 1 + 1 + 8, binding count 2, binding 14 + 2 x 12.
    ASSERT_EQ(full.size(), 4u + 6 + 10 + 2 + 14 + 24);
    for (u32 cut : {2u, 5u, 9u, 12u, 19u, 21u, 25u, 37u, 59u}) {
        const std::vector<u8> bytes(full.begin(), full.begin() + cut);
        AURESULT result = AuResultSuccess;
        EXPECT_EQ(LoadBytes(AuModulatorKind_Envelope, 9, bytes, &result), nullptr) << cut;
        EXPECT_EQ(result, AuResultBadHeader) << cut;
        EXPECT_EQ(g_pIndex->Table(AuIndexModulators).Count(), 0u) << cut;
    }
    EXPECT_EQ(mgr.SubscriptionCount(), 0u);
    EXPECT_EQ(Used(), m_usedAfterSetUp);
}

TEST_F(ModulatorFixture, OnlyTheTwoKindsAreMade) {
    EXPECT_EQ(CAuModulator::Create(1, 2), nullptr);
    EXPECT_EQ(CAuModulator::Create(1, AuModulatorKind_None), nullptr);
    EXPECT_EQ(g_pIndex->Table(AuIndexModulators).Count(), 0u);
}

TEST_F(ModulatorFixture, ReleasingTheModulatorDropsItsBindings) {
    Load(ModulatorRecord{HierarchyType::Lfo, 3, {}, {}, {Binding(42), Binding(44)}});
    EXPECT_EQ(mgr.SubscriptionCount(), 2u);
    ReleaseAll();
    EXPECT_EQ(mgr.SubscriptionCount(), 0u);
    EXPECT_EQ(g_pIndex->Table(AuIndexModulators).Count(), 0u);
}

TEST_F(ModulatorFixture, AModulatorDrivenByAnotherIsLinkedThroughTheManager) {
    Load(ModulatorRecord{HierarchyType::Lfo, 20, {}, {}, {}});
    CAuModulator* driven = Load(ModulatorRecord{HierarchyType::Lfo, 21, {}, {}, {Binding(42, 20, 2)}});
    ASSERT_NE(driven, nullptr);
    EXPECT_EQ(driven->RTPCMask(), 1u);
    EXPECT_EQ(modulators.EntryCount(), 1u);
    ReleaseAll();
    EXPECT_EQ(modulators.EntryCount(), 0u);
    EXPECT_EQ(g_pIndex->Table(AuIndexModulators).Count(), 0u);
}

TEST_F(ModulatorFixture, TheManagerLinksTheRTPCManagerWhileItRuns) {
    // A node curve driven by a modulator needs the manager's link: without it the subscription
    // fails, with it the curve is kept.
    Load(ModulatorRecord{HierarchyType::Lfo, 30, {}, {}, {}});
    const AuCurvePoint points[] = {{0, -96, AuCurveInterpolation_Linear},
                                   {1, 0, AuCurveInterpolation_Linear}};
    struct Node : IAuNodeSubscriber {
        bool HasActivity() noexcept override { return false; }
        void SetParamFromRTPC(const AuRTPCSubscription&, u32, u32, f32, const AuRTPCKey&,
                              const CAuRTPCFilter*) noexcept override {}
        void RecalcProps(u32) noexcept override {}
    } node;
    EXPECT_EQ(mgr.SubscribeRTPC(&node, 30, AuRTPCDrivingType_Modulator, 0, 0, 1, 0, points, 2, AuRTPCKey{},
                                AuRTPCSubscriberKind_Node),
              AuResultSuccess);
    EXPECT_EQ(modulators.EntryCount(), 1u);
    AuModulatorTarget target;
    ASSERT_TRUE(modulators.GetSubscriptionRange(&node, 0, 30, target));
    EXPECT_NEAR(target.offset, 1.58e-5f, 1e-6f);
    EXPECT_NEAR(target.offset + target.scale, 1.0f, 1e-6f);
    EXPECT_FALSE(modulators.GetSubscriptionRange(&node, 36, 30, target));
    mgr.UnSubscribeRTPC(&node);
    EXPECT_EQ(modulators.EntryCount(), 0u);
    modulators.Term();
    EXPECT_EQ(mgr.SubscribeRTPC(&node, 30, AuRTPCDrivingType_Modulator, 0, 0, 1, 0, points, 2, AuRTPCKey{},
                                AuRTPCSubscriberKind_Node),
              AuResultFail);
    ASSERT_EQ(modulators.Init(), AuResultSuccess);
}

} // namespace
