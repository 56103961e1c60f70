#include "PhysicsSystem.h"

#include "World.h"

#include "EngineTestControl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace physics_test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Just over one fixed step: each frame of this length runs exactly one step (the remainder, 1e-7 s
// a frame, would need a hundred thousand frames to add up to another).
constexpr float kOneStep = 0.0100001f;
constexpr float kGravity = 9.8f;
constexpr float kStep = 0.01f;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

Collision Started(const Body& a, const Body& b) {
    return {COLLISION_STARTED, std::min(a.id(), b.id()), std::max(a.id(), b.id())};
}
Collision Ended(const Body& a, const Body& b) {
    return {COLLISION_ENDED, std::min(a.id(), b.id()), std::max(a.id(), b.id())};
}

BodyDesc SphereAt(Vector3 position, float radius = 0.5f) {
    BodyDesc desc;
    desc.position = position;
    desc.radius = radius;
    return desc;
}

// A static box with its top face at y = 1.
BodyDesc StaticBox() {
    BodyDesc desc;
    desc.shape = ShapeType::AABB;
    desc.halfExtents = Vector3(1.0f);
    desc.isStatic = true;
    return desc;
}

class PhysicsSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        physics = new PhysicsSystem(L"Physics");
        Engine::AddSystem(physics);
        recorder = std::make_unique<CollisionRecorder>();
    }
    void TearDown() override {
        recorder.reset();
        Engine::Release();
    }

    // Delivers relayed messages (created components, collisions); the physics update sees dt 0.
    static void Deliver() { Engine::RunFrames(1, 0.0f); }
    static void Frame(float dt) { Engine::RunFrames(1, dt); }
    // Calls Update directly, past the engine's own clamp of the frame time, then delivers.
    void Update(float dt) {
        physics->Update(dt);
        Deliver();
    }

    Body Make(const BodyDesc& desc) {
        Body body = MakeBody(desc);
        Deliver();
        return body;
    }

    static void Send(PhysicsMessageType type, std::uint32_t id, Vector3 vector = Vector3(0.0f),
                     const std::string& group = {}, bool flag = false, const std::string& first = {},
                     const std::string& second = {}) {
        auto message = std::make_shared<PhysicsMessage>(L"GameLogic", type, id, vector);
        message->SetGroupName(group);
        message->SetFlag(flag);
        message->SetFirstGroupName(first);
        message->SetSecondGroupName(second);
        Engine::ImmediateMessage(message);
    }

    static void Pause(int type) {
        Engine::ImmediateMessage(
            std::make_shared<PauseMessage>(L"GameLogic", static_cast<PauseMessageType>(type), 0));
    }

    PhysicsSystem* physics = nullptr;
    std::unique_ptr<CollisionRecorder> recorder;
};

TEST_F(PhysicsSystemTest, ListensFromConstructionToDestruction) {
    const MessageType types[] = {MessageType::CreatedComponent, MessageType::Physics, MessageType::Pause,
                                 MessageType::DestroyedComponent};
    for (MessageType type : types)
        EXPECT_EQ(EngineTest::ListenerCount(type), 1u);
    {
        PhysicsSystem second(L"Physics");
        for (MessageType type : types)
            EXPECT_EQ(EngineTest::ListenerCount(type), 2u);
    }
    for (MessageType type : types)
        EXPECT_EQ(EngineTest::ListenerCount(type), 1u);
    EXPECT_EQ(physics->GetName(), L"Physics");
}

TEST_F(PhysicsSystemTest, SphereDroppedOnStaticBoxComesToRestAndReportsStartAndEnd) {
    BodyDesc ball = SphereAt({0, 3, 0});
    ball.useGravity = true;
    Body sphere = Make(ball);
    BodyDesc floor = StaticBox();
    floor.position = Vector3(0, -0.5f, 0); // top face at y = 0
    floor.halfExtents = Vector3(5, 0.5f, 5);
    Body box = Make(floor);

    for (int frame = 0; frame < 300; ++frame)
        Frame(1.0f / 60.0f); // 5 s
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(sphere, box)});

    // The correction lifts the sphere out of the box to all but the slop, and the step then moves
    // it by the velocity it keeps: the impulse is scaled by the depth and takes off only a sliver
    // of the fall speed. At rest the sphere ends every step at
    //   y = top + r - slop + v2 h,   with v2 = v + g h / 2 (the velocity before the last half force),
    // and v2 = -u solves u (slop + h u) = g h (1 - slop - h u): the speed the depth-scaled impulse
    // takes off each step equals the speed gravity adds.
    const double g = kGravity, h = kStep, slop = PhysicsSystem::kPenetrationSlop, r = 0.5;
    const double a = h, b = slop + g * h * h, c = -g * h * (1.0 - slop);
    const double u = (-b + std::sqrt(b * b - 4.0 * a * c)) / (2.0 * a);
    const double restY = r - slop - h * u;
    EXPECT_NEAR(sphere.y(), restY, 1e-4);
    EXPECT_NEAR(sphere.body->GetVelocity().getY(), -u - g * h / 2.0, 1e-3);
    EXPECT_NEAR(sphere.y(), 0.4687, 1e-4);
    // At rest it stays: the same height frame after frame, and the rule holds at every frame end.
    for (int frame = 0; frame < 30; ++frame) {
        Frame(1.0f / 60.0f);
        EXPECT_NEAR(sphere.y(), restY, 1e-4);
        const double v2 = sphere.body->GetVelocity().getY() + g * h / 2.0;
        EXPECT_NEAR(sphere.y(), r - slop + v2 * h, 1e-5);
    }
    EXPECT_FLOAT_EQ(sphere.transform->GetPosition().getX(), 0.0f);
    EXPECT_FLOAT_EQ(sphere.transform->GetPosition().getZ(), 0.0f);
    EXPECT_FLOAT_EQ(box.y(), -0.5f);
    EXPECT_TRUE(recorder->Take().empty());

    // Lifted away, it stops touching.
    Send(PHYSICS_SET_POSITION, sphere.id(), Vector3(0, 5, 0));
    Send(PHYSICS_USE_GRAVITY, sphere.id(), Vector3(0.0f), {}, false);
    Frame(1.0f / 60.0f);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Ended(sphere, box)});
    Frame(1.0f / 60.0f);
    EXPECT_TRUE(recorder->Take().empty());
}

TEST_F(PhysicsSystemTest, TwoMovingSpheresArePushedFromBothSides) {
    Body a = Make(SphereAt({0, 0, 0}, 1.0f));
    Body b = Make(SphereAt({1.5f, 0, 0}, 1.0f));
    Frame(kOneStep);
    // One contact from each side: each moves the pair apart by the depth less the slop, shared by
    // the inverse masses.
    EXPECT_NEAR(a.transform->GetPosition().getX(), -0.499f, 1e-5f);
    EXPECT_NEAR(b.transform->GetPosition().getX(), 1.999f, 1e-5f);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(a, b)});
    Frame(kOneStep);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Ended(a, b)});
}

TEST_F(PhysicsSystemTest, GhostOverlapIsReportedButNeverPushed) {
    BodyDesc desc = SphereAt({0, 1.4f, 0});
    desc.ghost = true;
    desc.velocity = Vector3(0, -1, 0);
    Body ghost = Make(desc);
    Body box = Make(StaticBox());
    Frame(kOneStep);
    EXPECT_NEAR(ghost.y(), 1.39f, 1e-6f);
    EXPECT_FLOAT_EQ(ghost.body->GetVelocity().getY(), -1.0f);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(ghost, box)});
    for (int i = 0; i < 5; ++i)
        Frame(kOneStep); // still overlapping: nothing new
    EXPECT_TRUE(recorder->Take().empty());
    Send(PHYSICS_SET_POSITION, ghost.id(), Vector3(0, 10, 0));
    Frame(kOneStep);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Ended(ghost, box)});
}

TEST_F(PhysicsSystemTest, ContactResolutionCases) {
    // A sphere of radius 0.5 over a static box whose top is at y = 1, one step, no gravity.
    const struct {
        const char* name;
        float y;
        float vy;
        float mass;
        bool ghost;
        float expectY;
        float expectVy;
    } cases[] = {
        // Impulse -d (v.n) n = +0.1 on v = -1; correction lifts by 0.1 - slop; then y += v h.
        {"moving onto a static partner", 1.4f, -1.0f, 1.0f, false, 1.499f - 0.009f, -0.9f},
        {"heavier body", 1.4f, -1.0f, 2.0f, false, 1.499f - 0.0095f, -0.95f},
        {"depth within the slop: impulse only", 1.4995f, -1.0f, 1.0f, false, 1.4995f - 0.009995f, -0.9995f},
        {"already separating", 1.4f, 1.0f, 1.0f, false, 1.41f, 1.0f},
        {"ghost", 1.4f, -1.0f, 1.0f, true, 1.39f, -1.0f},
        // Inverse mass 0 on both sides: no share of the correction, and no division by zero.
        {"massless body on a static box", 1.4f, -1.0f, 0.0f, false, 1.39f, -1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BodyDesc desc = SphereAt({0, c.y, 0});
        desc.velocity = Vector3(0, c.vy, 0);
        desc.mass = c.mass;
        desc.ghost = c.ghost;
        Body sphere = Make(desc);
        Body box = Make(StaticBox());
        Frame(kOneStep);
        EXPECT_NEAR(sphere.y(), c.expectY, 1e-5f);
        EXPECT_NEAR(sphere.body->GetVelocity().getY(), c.expectVy, 1e-5f);
        EXPECT_FLOAT_EQ(box.y(), 0.0f);
        EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(sphere, box)});
        Engine::mFactory->DestroyAllObjects();
        Frame(kOneStep);
        recorder->Take();
    }
}

TEST_F(PhysicsSystemTest, ForcesGravityAndDampingPerStep) {
    const struct {
        const char* name;
        bool isStatic;
        bool useGravity;
        float damping;
        Vector3 velocity;
        Vector3 expectPosition; // after one step
        Vector3 expectVelocity;
    } cases[] = {
        // Half the gravity step before the move, half after.
        {"falling", false, true, 1.0f, {0, 0, 0}, {0, -0.00049f, 0}, {0, -0.098f, 0}},
        {"damping 1 keeps the velocity", false, false, 1.0f, {2, -3, 4}, {0.02f, -0.03f, 0.04f}, {2, -3, 4}},
        {"damping 0.5 halves x and z only",
         false,
         false,
         0.5f,
         {2, -3, 4},
         {0.02f, -0.03f, 0.04f},
         {1, -3, 2}},
        {"static bodies stay but are damped", true, true, 0.5f, {2, -3, 4}, {0, 0, 0}, {1, -3, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BodyDesc desc = SphereAt({0, 0, 0});
        desc.isStatic = c.isStatic;
        desc.useGravity = c.useGravity;
        desc.damping = c.damping;
        desc.velocity = c.velocity;
        Body body = Make(desc);
        Frame(kOneStep);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(body.transform->GetPosition()[i], c.expectPosition[i], 1e-6f) << "axis " << i;
            EXPECT_NEAR(body.body->GetVelocity()[i], c.expectVelocity[i], 1e-6f) << "axis " << i;
        }
        EXPECT_FLOAT_EQ(lengthSqr(body.body->GetNetForce()), 0.0f);
        Engine::mFactory->DestroyAllObjects();
    }
}

TEST_F(PhysicsSystemTest, FrameOfZeroOrWhilePausedAdvancesNothing) {
    BodyDesc desc = SphereAt({0, 1.4f, 0});
    desc.ghost = true;
    desc.velocity = Vector3(0, -1, 0);
    Body ghost = Make(desc);
    Body box = Make(StaticBox());
    Update(0.005f);
    const double owed = physics->GetAccumulator();
    EXPECT_NEAR(owed, 0.005, 1e-9);
    EXPECT_TRUE(recorder->Take().empty());
    Update(kOneStep);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(ghost, box)});
    const double afterStep = physics->GetAccumulator();
    Send(PHYSICS_SET_POSITION, ghost.id(), Vector3(0, 10, 0)); // no longer touching

    for (float dt : {0.0f, -0.1f, kNaN}) {
        Update(dt);
        EXPECT_EQ(physics->GetAccumulator(), afterStep) << dt;
        EXPECT_TRUE(recorder->Take().empty()) << dt; // no "ended" either
    }
    Pause(PAUSE_GAME);
    EXPECT_TRUE(physics->IsPaused());
    Update(0.1f);
    EXPECT_EQ(physics->GetAccumulator(), afterStep);
    EXPECT_FLOAT_EQ(ghost.y(), 10.0f);
    EXPECT_TRUE(recorder->Take().empty());
    Pause(UNPAUSE_GAME);
    EXPECT_FALSE(physics->IsPaused());
    Update(kOneStep);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Ended(ghost, box)});
    EXPECT_LT(ghost.y(), 10.0f);
}

TEST_F(PhysicsSystemTest, LongFrameIsClampedAndTheRestStaysOwed) {
    BodyDesc desc = SphereAt({0, 0, 0});
    desc.useGravity = true;
    Body body = Make(desc);
    Update(1.0f);
    // Each step adds g h to the fall speed, so the speed counts the steps.
    const double steps = std::round(-body.body->GetVelocity().getY() / (kGravity * kStep));
    const double owed = physics->GetAccumulator();
    EXPECT_GE(owed, 0.0);
    EXPECT_LT(owed, PhysicsSystem::kFixedStep);
    EXPECT_NEAR(steps * PhysicsSystem::kFixedStep + owed, 0.25, 1e-9);
    EXPECT_GE(steps, 24.0);
}

TEST_F(PhysicsSystemTest, ShortFrameRunsNoStepYetReportsLastFramesPairsAsEnded) {
    BodyDesc desc = SphereAt({0, 1.4f, 0});
    desc.ghost = true;
    Body ghost = Make(desc);
    Body box = Make(StaticBox());
    Update(kOneStep);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(ghost, box)});
    // Still overlapping, but this frame ran no step and so found nothing.
    Update(0.005f);
    EXPECT_FLOAT_EQ(ghost.y(), 1.4f);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Ended(ghost, box)});
    Update(0.005f); // this one pays for a step
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(ghost, box)});
}

TEST_F(PhysicsSystemTest, PhysicsMessagesActOnTheNamedObject) {
    BodyDesc desc = SphereAt({1, 2, 3});
    desc.mass = 2.0f;
    Body body = Make(desc);

    Send(PHYSICS_FORCE, body.id(), Vector3(10, 0, 0));
    Send(PHYSICS_FORCE, body.id(), Vector3(0, 4, 0));
    EXPECT_FLOAT_EQ(body.body->GetNetForce().getX(), 10.0f);
    EXPECT_FLOAT_EQ(body.body->GetNetForce().getY(), 4.0f);
    Send(PHYSICS_IMPULSE, body.id(), Vector3(2, 0, 0));
    EXPECT_FLOAT_EQ(body.body->GetVelocity().getX(), 1.0f); // impulse over mass 2
    Send(PHYSICS_SET_POSITION, body.id(), Vector3(7, 8, 9));
    EXPECT_FLOAT_EQ(body.transform->GetPosition().getY(), 8.0f);
    Send(PHYSICS_USE_GRAVITY, body.id(), Vector3(0.0f), {}, true);
    EXPECT_TRUE(body.body->useGravity);
    Send(PHYSICS_USE_GRAVITY, body.id(), Vector3(0.0f), {}, false);
    EXPECT_FALSE(body.body->useGravity);
}

TEST_F(PhysicsSystemTest, MessagesForMissingObjectsOrComponentsAreIgnored) {
    Body body = Make(SphereAt({1, 2, 3}));
    auto bare = Engine::mFactory->CreateGenericObject().lock(); // no components at all
    const std::uint32_t unknown = 999999;

    CaptureStdout();
    for (std::uint32_t id : {unknown, bare->GetID()}) {
        Send(PHYSICS_FORCE, id, Vector3(1, 1, 1));
        Send(PHYSICS_IMPULSE, id, Vector3(1, 1, 1));
        Send(PHYSICS_USE_GRAVITY, id, Vector3(0.0f), {}, true);
        Send(PHYSICS_SET_OBJECT_GROUP, id, Vector3(0.0f), "A");
    }
    Send(PHYSICS_SET_POSITION, unknown, Vector3(1, 1, 1));
    Send(static_cast<PhysicsMessageType>(7), body.id(), Vector3(1, 1, 1));
    Send(static_cast<PhysicsMessageType>(-1), body.id(), Vector3(1, 1, 1));
    EXPECT_EQ(GetCapturedStdout(), "");

    // An object without a Transform cannot be placed, and says so.
    CaptureStdout();
    Send(PHYSICS_SET_POSITION, bare->GetID(), Vector3(1, 1, 1));
    EXPECT_EQ(GetCapturedStdout(), "SetPosition with NULL trans)");

    EXPECT_FLOAT_EQ(lengthSqr(body.body->GetNetForce()), 0.0f);
    EXPECT_FLOAT_EQ(lengthSqr(body.body->GetVelocity()), 0.0f);
    EXPECT_FLOAT_EQ(body.transform->GetPosition().getZ(), 3.0f);
}

TEST_F(PhysicsSystemTest, NonFiniteVectorsNeverReachABody) {
    Body body = Make(SphereAt({1, 2, 3}));
    const float inf = std::numeric_limits<float>::infinity();
    for (PhysicsMessageType type : {PHYSICS_FORCE, PHYSICS_IMPULSE, PHYSICS_SET_POSITION}) {
        for (Vector3 bad : {Vector3(kNaN, 0, 0), Vector3(0, inf, 0), Vector3(0, 0, -inf)}) {
            CaptureStdout();
            Send(type, body.id(), bad);
            EXPECT_EQ(GetCapturedStdout(), "Physics: ignored PhysicsMessage type " + std::to_string(type) +
                                               " for object " + std::to_string(body.id()) +
                                               " with a non-finite vector\n");
        }
    }
    Frame(kOneStep);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::isfinite(body.transform->GetPosition()[i]));
        EXPECT_TRUE(std::isfinite(body.body->GetVelocity()[i]));
    }
    EXPECT_FLOAT_EQ(body.transform->GetPosition().getX(), 1.0f);
}

TEST_F(PhysicsSystemTest, GroupMessagesDecideWhichPairsCollide) {
    BodyDesc desc = SphereAt({0, 0, 0});
    desc.ghost = true;
    Body a = Make(desc);
    desc.position = Vector3(0.5f, 0, 0);
    Body b = Make(desc);

    Send(PHYSICS_REGISTER_GROUP, 0, Vector3(0.0f), "A", true);
    Send(PHYSICS_REGISTER_GROUP, 0, Vector3(0.0f), "B", false);
    EXPECT_EQ(physics->GetCollisionGroups().GetGroupId("A"), 1u);
    EXPECT_EQ(physics->GetCollisionGroups().GetGroupId("B"), 2u);
    Send(PHYSICS_SET_OBJECT_GROUP, a.id(), Vector3(0.0f), "A");
    Send(PHYSICS_SET_OBJECT_GROUP, b.id(), Vector3(0.0f), "A");
    EXPECT_EQ(a.collider->GetCollisionGroup(), 1u);
    Frame(kOneStep); // A never collides with itself yet
    EXPECT_TRUE(recorder->Take().empty());

    Send(PHYSICS_SET_GROUP_PAIR, 0, Vector3(0.0f), {}, true, "A", "A");
    Frame(kOneStep);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(a, b)});

    Send(PHYSICS_SET_OBJECT_GROUP, b.id(), Vector3(0.0f), "B");
    EXPECT_EQ(b.collider->GetCollisionGroup(), 2u);
    Frame(kOneStep);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Ended(a, b)});

    // An unregistered name lands in DEFAULT, and so does an unknown name in a pair message.
    Send(PHYSICS_SET_OBJECT_GROUP, b.id(), Vector3(0.0f), "nobody registered this");
    EXPECT_EQ(b.collider->GetCollisionGroup(), 0u);
    Send(PHYSICS_SET_GROUP_PAIR, 0, Vector3(0.0f), {}, false, "A", "nor this");
    Frame(kOneStep);
    EXPECT_TRUE(recorder->Take().empty());
    EXPECT_FALSE(physics->GetCollisionGroups().DoGroupsCollide(1, 0));
}

TEST_F(PhysicsSystemTest, PauseMessages) {
    const struct {
        int type;
        bool pausedBefore;
        bool pausedAfter;
        const char* printed;
    } cases[] = {
        {0, false, true, ""},
        {0, true, true, ""},
        {1, true, false, ""},
        {1, false, false, ""},
        {2, false, false, "Physics: Unhandled PauseMessageType\n"},
        {2, true, true, "Physics: Unhandled PauseMessageType\n"},
    };
    for (const auto& c : cases) {
        Pause(c.pausedBefore ? 0 : 1);
        CaptureStdout();
        Pause(c.type);
        EXPECT_EQ(GetCapturedStdout(), c.printed) << c.type;
        EXPECT_EQ(physics->IsPaused(), c.pausedAfter) << c.type;
    }
}

TEST_F(PhysicsSystemTest, BodiesAndCollidersFollowTheComponentMessages) {
    Body first = Make(SphereAt({0, 0, 0}));
    Body second = Make(SphereAt({5, 0, 0}));
    EXPECT_EQ(physics->GetBodyCount(), 2u);
    EXPECT_EQ(physics->GetColliderCount(), 2u);

    // A bare collider joins the colliders only.
    BodyDesc bare = SphereAt({10, 0, 0});
    bare.withBody = false;
    Body wall = Make(bare);
    EXPECT_EQ(physics->GetBodyCount(), 2u);
    EXPECT_EQ(physics->GetColliderCount(), 3u);

    Engine::mFactory->Destroy(first.object);
    EXPECT_EQ(physics->GetBodyCount(), 1u);
    EXPECT_EQ(physics->GetColliderCount(), 2u);

    // Created and destroyed before the created messages arrive: nothing is left behind.
    Body fleeting = MakeBody(SphereAt({20, 0, 0}));
    Engine::mFactory->Destroy(fleeting.object);
    fleeting = Body{};
    Deliver();
    EXPECT_EQ(physics->GetBodyCount(), 1u);
    EXPECT_EQ(physics->GetColliderCount(), 2u);

    // The survivors still step.
    second.body->velocity = Vector3(1, 0, 0);
    Frame(kOneStep);
    EXPECT_NEAR(second.transform->GetPosition().getX(), 5.01f, 1e-6f);
}

TEST_F(PhysicsSystemTest, BoxPairsWithAnObbTouchButAreNeverPushed) {
    BodyDesc desc;
    desc.shape = ShapeType::OBB;
    desc.position = Vector3(2.2f, 0, 0);
    desc.rotation = Vector3(0, 0.785398163f, 0);
    desc.halfExtents = Vector3(1.0f);
    desc.velocity = Vector3(-1, 0, 0);
    Body obb = Make(desc);
    Body box = Make(StaticBox());
    CaptureStdout();
    Frame(kOneStep);
    EXPECT_EQ(GetCapturedStdout(), "Contact generation not implemented on OBB vs AABB\n");
    EXPECT_NEAR(obb.transform->GetPosition().getX(), 2.19f, 1e-6f); // moved by its velocity only
    EXPECT_FLOAT_EQ(obb.body->GetVelocity().getX(), -1.0f);
    EXPECT_EQ(recorder->Take(), std::vector<Collision>{Started(obb, box)});
}

TEST_F(PhysicsSystemTest, CapsulesPrintEveryStepAndNeverCollide) {
    BodyDesc desc = SphereAt({0, 1.2f, 0});
    desc.shape = ShapeType::CAPSULE;
    Body capsule = Make(desc);
    Make(StaticBox());
    CaptureStdout();
    Update(0.025f); // two steps
    EXPECT_EQ(
        GetCapturedStdout(),
        "Collision check implemented on CAPSULE vs AABB\nCollision check implemented on CAPSULE vs AABB\n");
    EXPECT_TRUE(recorder->Take().empty());
    EXPECT_FLOAT_EQ(capsule.y(), 1.2f);
}

TEST_F(PhysicsSystemTest, InvalidShapesAreSkippedSilently) {
    BodyDesc desc = SphereAt({0, 1.2f, 0});
    desc.shape = ShapeType::INVALID;
    Make(desc);
    Make(StaticBox());
    CaptureStdout();
    Frame(kOneStep);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(recorder->Take().empty());
}

TEST_F(PhysicsSystemTest, OnlyMovingBodiesStartPairs) {
    // Two static boxes, and two bare colliders, overlapping: never examined.
    Body staticA = Make(StaticBox());
    Body staticB = Make(StaticBox());
    BodyDesc bare = SphereAt({0, 0, 0}, 1.0f);
    bare.withBody = false;
    Body bareA = Make(bare);
    Frame(kOneStep);
    EXPECT_TRUE(recorder->Take().empty());
    // A moving body overlapping all three touches each of them, whatever their kind.
    BodyDesc moving = SphereAt({0, 0.5f, 0});
    moving.ghost = true;
    Body mover = Make(moving);
    Frame(kOneStep);
    std::vector<Collision> expected{Started(staticA, mover), Started(staticB, mover), Started(bareA, mover)};
    EXPECT_EQ(recorder->Take(), expected);
}

TEST_F(PhysicsSystemTest, ReleaseDropsQueuedMessages) {
    auto message = std::make_shared<PauseMessage>(L"GameLogic", PAUSE_GAME, 0);
    physics->TransmitQueue(message);
    EXPECT_EQ(message.use_count(), 2);
    EXPECT_EQ(physics->Release(), 0);
    EXPECT_EQ(message.use_count(), 1);
}

} // namespace
