// Objects, components, their created/destroyed announcements, and level and archetype files.
#include "engine_fixture.h"

#include <map>
#include <string>
#include <vector>

namespace {

using namespace Vectormath::Aos;

struct Seen {
    ComponentType type;
    bool componentLocked;
    bool parentLocked;
    std::string parentName;
    bool parentHoldsIt; // the parent still lists this component
};

// Records every 21 and 22 as it is delivered.
class Announcements {
public:
    Announcements() {
        Engine::RegisterListener(MessageType::CreatedComponent, Callable(this, &Announcements::OnCreated));
        Engine::RegisterListener(MessageType::DestroyedComponent,
                                 Callable(this, &Announcements::OnDestroyed));
    }
    ~Announcements() {
        Engine::UnregisterListener(MessageType::CreatedComponent, Callable(this, &Announcements::OnCreated));
        Engine::UnregisterListener(MessageType::DestroyedComponent,
                                   Callable(this, &Announcements::OnDestroyed));
    }
    void OnCreated(const std::shared_ptr<Message>& m) { created.push_back(Look(m)); }
    void OnDestroyed(const std::shared_ptr<Message>& m) {
        destroyed.push_back(Look(m));
        if (onDestroyed) onDestroyed(m);
    }
    std::vector<Seen> created, destroyed;
    std::function<void(const std::shared_ptr<Message>&)> onDestroyed;

private:
    static Seen Look(const std::shared_ptr<Message>& m) {
        auto message = std::static_pointer_cast<ComponentMessage>(m);
        auto component = message->GetComponentPTR().lock();
        auto parent = component ? component->GetParent().lock() : nullptr;
        return Seen{message->GetComponentType(), component != nullptr, parent != nullptr,
                    parent ? parent->GetName() : "",
                    parent && parent->GetComponent(message->GetComponentType()).lock() == component};
    }
};

class FactoryTest : public EngineTestBase {
protected:
    ObjectFactory& factory = *Engine::mFactory;
};

const char* const kSmallLevel = R"({
  "objects": [
    { "name": "P1Spawn", "components": { "Transform": {"position": [-5, 1, -5]}, "Spawner": {} } },
    { "name": "Floor", "components": {
        "Transform": {"position": [0, -0.5, 0], "scale": [40, 1, 40]},
        "RigidBody": {"static": true, "mass": 0, "useGravity": false},
        "Collider": {"shape": "AABB", "halfExtents": [0.5, 0.5, 0.5]},
        "Renderable": {"model": "splashcube", "shader": "textureshader", "textures": ["floor.png", "floor_n.png"]} } },
    { "name": "Light", "components": { "Light": {"type": "point"} } }
  ],
  "onLoad": [ {"ShowMenuMessage": {"type": 1, "visible": true}} ]
})";

TEST_F(FactoryTest, ALevelCreatesItsObjectsAndAnnouncesEveryComponentOnceWhenComplete) {
    WriteLevel("Small", kSmallLevel);
    Announcements seen;
    std::vector<std::string> order;
    Engine::RegisterListener(MessageType::ShowMenu,
                             Callable(1, [&](const std::shared_ptr<Message>&) { order.push_back("menu"); }));
    Engine::RegisterListener(MessageType::CreatedComponent,
                             Callable(2, [&](const std::shared_ptr<Message>&) { order.push_back("21"); }));

    ASSERT_TRUE(factory.LoadLevel("Small"));
    EXPECT_TRUE(seen.created.empty()) << "21 is relayed, not immediate";
    Drain();

    const auto objects = factory.GetObjects();
    ASSERT_EQ(objects.size(), 3u);
    std::vector<std::string> names;
    for (const auto& [id, object] : objects)
        names.push_back(object->GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"P1Spawn", "Floor", "Light"}))
        << "ascending ids in file order";

    ASSERT_EQ(seen.created.size(), 7u);
    const std::vector<std::pair<ComponentType, std::string>> expected = {
        {ComponentType::Transform, "P1Spawn"}, {ComponentType::Spawner, "P1Spawn"},
        {ComponentType::Transform, "Floor"},   {ComponentType::RigidBody, "Floor"},
        {ComponentType::Collider, "Floor"},    {ComponentType::Renderable, "Floor"},
        {ComponentType::Light, "Light"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(seen.created[i].type, expected[i].first) << i;
        EXPECT_EQ(seen.created[i].parentName, expected[i].second) << i;
        EXPECT_TRUE(seen.created[i].componentLocked && seen.created[i].parentHoldsIt) << i;
    }
    EXPECT_EQ(order.back(), "menu") << "onLoad messages follow the objects' announcements";
    EXPECT_EQ(std::count(order.begin(), order.end(), "menu"), 1);
    EXPECT_TRUE(Log().empty());
}

TEST_F(FactoryTest, RenderablesRequestTheirModelTexturesAndShader) {
    WriteLevel("Small", kSmallLevel);
    std::vector<std::pair<ResourceType, std::string>> requests;
    Engine::RegisterListener(MessageType::LoadResource, Callable(1, [&](const std::shared_ptr<Message>& m) {
                                 auto r = std::static_pointer_cast<LoadResourceMessage>(m);
                                 requests.emplace_back(r->GetType(), r->GetName());
                             }));
    ASSERT_TRUE(factory.LoadLevel("Small"));
    Drain();
    EXPECT_EQ(requests,
              (std::vector<std::pair<ResourceType, std::string>>{{RESOURCE_MODEL, "splashcube"},
                                                                 {RESOURCE_TEXTURE, "floor.png"},
                                                                 {RESOURCE_TEXTURE, "floor_n.png"},
                                                                 {RESOURCE_SHADER, "textureshader"}}));
}

TEST_F(FactoryTest, DestroyAllObjectsAnnouncesEveryComponentImmediatelyWhileItAndItsObjectStillExist) {
    WriteLevel("Small", kSmallLevel);
    ASSERT_TRUE(factory.LoadLevel("Small"));
    Drain();
    std::weak_ptr<Object> floor = factory.GetObjectByName("Floor");
    std::weak_ptr<Component> body = floor.lock()->GetComponent(ComponentType::RigidBody);

    Announcements seen;
    factory.DestroyAllObjects();
    ASSERT_EQ(seen.destroyed.size(), 7u);
    for (const auto& s : seen.destroyed) {
        EXPECT_TRUE(s.componentLocked && s.parentLocked && s.parentHoldsIt) << ComponentTypeName(s.type);
    }
    EXPECT_EQ(seen.destroyed[0].parentName, "P1Spawn");
    EXPECT_TRUE(factory.GetObjects().empty());
    EXPECT_TRUE(floor.expired());
    EXPECT_TRUE(body.expired());
    Drain();
    EXPECT_TRUE(seen.created.empty()) << "nothing left to announce";
}

TEST_F(FactoryTest, DestroyIsIdempotentAndReentrant) {
    auto a = factory.CreateGenericObject().lock();
    auto b = factory.CreateGenericObject().lock();
    factory.GiveObjectComponent(a, "Transform");
    factory.GiveObjectComponent(a, "Spawner");
    factory.GiveObjectComponent(b, "Transform");
    const auto aId = a->GetID(), bId = b->GetID();
    a.reset();
    b.reset();

    Announcements seen;
    seen.onDestroyed = [&](const std::shared_ptr<Message>&) {
        factory.Destroy(aId); // the object being destroyed: a no-op
        factory.Destroy(bId); // another object: destroyed at once, nested
    };
    factory.Destroy(aId);
    EXPECT_EQ(seen.destroyed.size(), 3u) << "each component announced exactly once";
    EXPECT_TRUE(factory.GetObjectWithID(aId).expired());
    EXPECT_TRUE(factory.GetObjectWithID(bId).expired());
    factory.Destroy(aId);
    factory.Destroy(12345);
    factory.Destroy(std::weak_ptr<Object>());
    EXPECT_EQ(seen.destroyed.size(), 3u);
}

TEST_F(FactoryTest, ArchetypedObjectsAreNamedAfterTheirArchetypeBeforeTheirAnnouncements) {
    WriteArchetype("Player1",
                   R"({"components": {"Transform": {}, "Controller": {}, "Camera": {"fov": 60}}})");
    Announcements seen;
    auto player = factory.CreateArchetypedObject(L"Player1").lock();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->GetName(), "Player1");
    Drain();
    ASSERT_EQ(seen.created.size(), 3u);
    for (const auto& s : seen.created)
        EXPECT_EQ(s.parentName, "Player1");
    // Each creation is a new object with its own components.
    auto second = factory.CreateArchetypedObject(L"Player1").lock();
    ASSERT_TRUE(second);
    EXPECT_NE(second->GetID(), player->GetID());
    EXPECT_NE(second->GetComponent(ComponentType::Camera).lock(),
              player->GetComponent(ComponentType::Camera).lock());
}

TEST_F(FactoryTest, AComponentDestroyedBeforeItsAnnouncementIsDeliveredArrivesExpired) {
    auto object = factory.CreateGenericObject();
    factory.GiveObjectComponent(object, "Transform");
    Announcements seen;
    factory.Destroy(object);
    Drain();
    ASSERT_EQ(seen.created.size(), 1u);
    EXPECT_FALSE(seen.created[0].componentLocked);
}

struct BadFile {
    const char* name;
    const char* text; // null: no file at all
    const char* reason;
};

void PrintTo(const BadFile& bad, std::ostream* os) {
    *os << bad.name;
}

class MalformedLevelTest : public EngineTestBase, public ::testing::WithParamInterface<BadFile> {};

TEST_P(MalformedLevelTest, GivesOneClearLineAndNothingElse) {
    const BadFile& bad = GetParam();
    if (bad.text) WriteLevel("Broken", bad.text);
    Announcements seen;
    EXPECT_FALSE(Engine::mFactory->LoadLevel("Broken"));
    Drain();
    EXPECT_TRUE(Engine::mFactory->GetObjects().empty());
    EXPECT_TRUE(seen.created.empty());
    const auto log = Log();
    ASSERT_EQ(log.size(), 1u) << (log.empty() ? "" : log[0]);
    EXPECT_NE(log[0].find("\"Broken\""), std::string::npos) << log[0];
    EXPECT_NE(log[0].find(bad.reason), std::string::npos) << log[0];
    EXPECT_NE(log[0].find("nothing loaded"), std::string::npos) << log[0];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedLevelTest,
    ::testing::Values(
        BadFile{"Missing", nullptr, "not found"},
        BadFile{"Truncated", R"({"objects": [ {"name": "A")", "not valid JSON"},
        BadFile{"Empty", "", "not valid JSON"},
        BadFile{"RootIsAList", R"([{"name": "A"}])", "must hold a JSON object"},
        BadFile{"ObjectsNotAList", R"({"objects": {"name": "A"}})", "\"objects\" must be a list"},
        BadFile{"ObjectNotAnObject", R"({"objects": [{"name": "A"}, 5]})", "object 1 must be"},
        BadFile{"NameNotAString", R"({"objects": [{"name": 5}]})", "\"name\" must be a string"},
        BadFile{"ComponentsNotAnObject", R"({"objects": [{"name": "A", "components": []}]})",
                "\"components\" must be a JSON object"},
        BadFile{"OnLoadNotAList", R"({"onLoad": {"ShowMenuMessage": {}}})", "\"onLoad\" must be"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FactoryTest, FileNamesMatchIgnoringCaseWhenTheExactNameIsMissing) {
    WriteLevel("full_level_test", R"({"objects": [{"name": "lower"}]})");
    WriteArchetype("ARBITER", R"({"components": {"LevelRuleset": {}}})");
    ASSERT_TRUE(factory.LoadLevel("Full_Level_Test"));
    EXPECT_FALSE(factory.GetObjectByName("lower").expired());
    auto arbiter = factory.CreateArchetypedObject(L"Arbiter").lock();
    ASSERT_TRUE(arbiter);
    EXPECT_EQ(arbiter->GetName(), "Arbiter") << "named as asked";
    EXPECT_FALSE(arbiter->GetComponent(ComponentType::LevelRuleset).expired());
    // An exact match wins over a case variant.
    WriteLevel("Full_Level_Test", R"({"objects": [{"name": "exact"}]})");
    ASSERT_TRUE(factory.LoadLevel("Full_Level_Test"));
    EXPECT_FALSE(factory.GetObjectByName("exact").expired());
    EXPECT_TRUE(Log().empty());
}

// A camera side that no target can have is refused with one line naming the level and the camera;
// the camera keeps its size.
TEST_F(FactoryTest, CameraSidesOutsideOneTo16384AreRefusedWithOneLine) {
    struct Case {
        const char* field;
        const char* value;
        unsigned expected; // 0: refused, the default stays
    };
    const Case cases[] = {{"width", "0", 0},          {"width", "16385", 0}, {"width", "4294967295", 0},
                          {"width", "-1", 0},         {"width", "2.5", 0},   {"height", "0", 0},
                          {"height", "100000", 0},    {"width", "1", 1},     {"width", "16384", 16384},
                          {"height", "16384", 16384}, {"height", "450", 450}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.value);
        WriteLevel("Sized", std::string(R"({"objects": [{"name": "Observer", "components": {"Camera": {")") +
                                c.field + R"(": )" + c.value + "}}}]}");
        ASSERT_TRUE(factory.LoadLevel("Sized"));
        auto object = factory.GetObjectByName("Observer").lock();
        ASSERT_TRUE(object);
        auto camera = std::static_pointer_cast<Camera>(object->GetComponent(ComponentType::Camera).lock());
        ASSERT_TRUE(camera);
        const bool width = std::string(c.field) == "width";
        const unsigned size = width ? camera->GetCameraWidth() : camera->GetCameraHeight();
        EXPECT_EQ(size, c.expected ? c.expected : width ? 1600u : 900u);
        EXPECT_FALSE(camera->GetDidChange());
        const auto log = Log();
        if (c.expected) {
            EXPECT_TRUE(log.empty()) << log.front();
        } else {
            ASSERT_EQ(log.size(), 1u);
            const std::string complaint =
                std::string("field \"") + c.field + "\" must be an integer from 1 to 16384";
            EXPECT_TRUE(AnyLineHas(log, {"level \"Sized\"", "\"Observer\" Camera", complaint}))
                << log.front();
        }
        factory.DestroyAllObjects();
        Drain();
    }
}

TEST_F(FactoryTest, MissingOrMalformedArchetypesGiveAnEmptyPointerAndOneLine) {
    WriteArchetype("Bad", "{ nope");
    EXPECT_TRUE(factory.CreateArchetypedObject(L"Nobody").expired());
    EXPECT_TRUE(factory.CreateArchetypedObject(L"Bad").expired());
    EXPECT_TRUE(factory.GetObjects().empty());
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(AnyLineHas(log, {"archetype \"Nobody\" not found"}));
    EXPECT_TRUE(AnyLineHas(log, {"archetype \"Bad\" is not valid JSON"}));
}

TEST_F(FactoryTest, UnknownComponentsFieldsAndIllTypedValuesAreReportedAndSkipped) {
    WriteLevel("Odd", R"({
      "version": 2,
      "objects": [ { "name": "Box", "colour": "red", "components": {
          "Teleporter": {},
          "Spawner": 3,
          "Transform": {"position": [1, 2, 3], "scale": "big", "rotation": [1, 2], "wobble": 1},
          "Collider": {"shape": "CONE", "radius": 2},
          "RigidBody": {"mass": "heavy", "group": -1} } } ],
      "onLoad": [ {"FireworksMessage": {}}, {"ShowMenuMessage": {"type": 0, "flashy": true}}, 7 ]
    })");
    ASSERT_TRUE(factory.LoadLevel("Odd"));
    auto box = factory.GetObjectByName("Box").lock();
    ASSERT_TRUE(box);
    auto transform = std::static_pointer_cast<Transform>(box->GetComponent(ComponentType::Transform).lock());
    ASSERT_TRUE(transform);
    EXPECT_EQ(transform->GetPosition().getY(), 2.0f);
    EXPECT_EQ(transform->GetScale().getX(), 1.0f);
    EXPECT_EQ(transform->GetRotation().getX(), 0.0f);
    auto collider = std::static_pointer_cast<Collider>(box->GetComponent(ComponentType::Collider).lock());
    ASSERT_TRUE(collider);
    EXPECT_EQ(collider->GetShapeType(), ShapeType::SPHERE);
    EXPECT_EQ(collider->GetRadius(), 2.0f);
    auto body = std::static_pointer_cast<RigidBody>(box->GetComponent(ComponentType::RigidBody).lock());
    ASSERT_TRUE(body);
    EXPECT_EQ(body->mass, 1.0f);
    EXPECT_TRUE(box->GetComponent(ComponentType::Spawner).expired());

    const auto log = Log();
    const std::vector<std::vector<std::string>> reports = {
        {"unknown field \"version\""},
        {"\"Box\"", "unknown field \"colour\""},
        {"\"Box\"", "unknown component \"Teleporter\""},
        {"\"Box\"", "component \"Spawner\" must be a JSON object"},
        {"Transform", "field \"scale\" must be a list of 3 numbers"},
        {"Transform", "field \"rotation\" must be a list of 3 numbers"},
        {"Transform", "unknown field \"wobble\""},
        {"Collider", "unknown shape \"CONE\""},
        {"RigidBody", "field \"mass\" must be a number"},
        {"RigidBody", "unknown field \"group\""},
        {"unknown message \"FireworksMessage\""},
        {"ShowMenuMessage", "unknown field \"flashy\""},
        {"onLoad 2 must be one"}};
    for (const auto& pieces : reports)
        EXPECT_TRUE(AnyLineHas(log, pieces)) << pieces.back();
    EXPECT_EQ(log.size(), reports.size());
}

TEST_F(FactoryTest, ComponentFieldsFromTheFileReachTheGetters) {
    WriteLevel("All", R"({ "objects": [ { "name": "Everything", "components": {
        "Transform": {"position": [1, 2, 3], "rotation": [0, 90, 0], "scale": [2, 2, 2]},
        "RigidBody": {"static": false, "mass": 4, "damping": 0.9, "useGravity": false, "velocity": [1, 0, 0]},
        "Collider": {"shape": "OBB", "radius": 0.25, "halfExtents": [1, 2, 3], "offset": [0, 1, 0],
                     "ghost": true, "group": 3},
        "Renderable": {"model": "player", "shader": "s", "textures": ["a.png"], "transparent": true,
                       "visible": false, "color": [0.1, 0.2, 0.3, 0.4], "blend": [1, 1, 1, 0.5]},
        "Camera": {"fov": 90, "near": 0.5, "far": 500, "width": 800, "height": 450, "forward": [1, 0, 0]},
        "Light": {"type": "spot", "diffuse": [1, 0.5, 0], "specular": [0.2, 0.2, 0.2], "intensity": 3,
                  "direction": [0, -1, 0], "range": 12, "falloff": 2, "interiorAngle": 10, "exteriorAngle": 20,
                  "offset": [0, 2, 0]},
        "Controller": {},
        "Debug": {"drawFlags": 5, "normalColor": [1, 1, 1, 1], "ghostColor": [0, 0, 1, 1],
                  "staticColor": [1, 0, 0, 1], "staticGhostColor": [0.5, 0, 0.5, 1]},
        "PlayerStats": {"keyCards": 1, "powerCells": 2, "flareRechargeTime": 8, "sprintLevel": 0.5},
        "PickupComponent": {"type": "PowerCell"},
        "GroupComponent": {"group": "Doors"},
        "RoomComponent": {"room": 7},
        "Spawner": {},
        "LevelRuleset": {} } } ] })");
    ASSERT_TRUE(factory.LoadLevel("All"));
    EXPECT_TRUE(Log().empty());
    auto o = factory.GetObjectByName("Everything").lock();
    ASSERT_TRUE(o);
    auto get = [&](ComponentType t) { return o->GetComponent(t).lock(); };
    for (ComponentType t :
         {ComponentType::Transform, ComponentType::RigidBody, ComponentType::Collider,
          ComponentType::Renderable, ComponentType::Camera, ComponentType::Light, ComponentType::Controller,
          ComponentType::Debug, ComponentType::PlayerStats, ComponentType::PickupComponent,
          ComponentType::GroupComponent, ComponentType::RoomComponent, ComponentType::Spawner,
          ComponentType::LevelRuleset})
        ASSERT_TRUE(get(t)) << ComponentTypeName(t);
    EXPECT_TRUE(o->GetComponent(ComponentType::PauseBehavior).expired());

    auto t = std::static_pointer_cast<Transform>(get(ComponentType::Transform));
    auto b = std::static_pointer_cast<RigidBody>(get(ComponentType::RigidBody));
    auto c = std::static_pointer_cast<Collider>(get(ComponentType::Collider));
    auto r = std::static_pointer_cast<Renderable>(get(ComponentType::Renderable));
    auto cam = std::static_pointer_cast<Camera>(get(ComponentType::Camera));
    auto l = std::static_pointer_cast<Light>(get(ComponentType::Light));
    auto d = std::static_pointer_cast<Debug>(get(ComponentType::Debug));
    auto p = std::static_pointer_cast<PlayerStats>(get(ComponentType::PlayerStats));
    const float halfPi = 1.5707963f;
    const std::vector<std::pair<const char*, std::pair<float, float>>> values = {
        {"position z", {t->GetPosition().getZ(), 3}},
        {"rotation y", {t->GetRotation().getY(), halfPi}},
        {"scale", {t->GetScale().getX(), 2}},
        {"mass", {b->mass, 4}},
        {"inverse mass", {b->GetInvMass(), 0.25f}},
        {"damping", {b->GetDamping(), 0.9f}},
        {"velocity", {b->GetVelocity().getX(), 1}},
        {"radius", {c->GetRadius(), 0.25f}},
        {"world half extent z", {c->GetHalfExtents().getZ(), 6}},
        {"centre y", {c->GetCenter().getY(), 3}},
        {"group", {static_cast<float>(c->GetCollisionGroup()), 3}},
        {"colour alpha", {r->GetColor().getW(), 0.4f}},
        {"blend w", {r->GetBlendFactors().getW(), 0.5f}},
        {"fov", {cam->GetCameraFOV(), halfPi}},
        {"near", {cam->GetCameraNear(), 0.5f}},
        {"far", {cam->GetCameraFar(), 500}},
        {"width", {static_cast<float>(cam->GetCameraWidth()), 800}},
        {"height", {static_cast<float>(cam->GetCameraHeight()), 450}},
        {"look at z (x turned by 90 about y)", {cam->GetLookAt().getZ(), -1}},
        {"light type", {static_cast<float>(l->GetLightType()), LIGHT_SPOT}},
        {"diffuse g", {l->GetDiffuseIntensity().getY(), 0.5f}},
        {"specular", {l->GetSpecularIntensity().getX(), 0.2f}},
        {"intensity", {l->GetIntensity(), 3}},
        {"direction y", {l->GetLightDirection().getY(), -1}},
        {"range", {l->GetRange(), 12}},
        {"falloff", {l->GetFalloffValue(), 2}},
        {"interior", {l->GetInteriorAngle(), 10}},
        {"exterior", {l->GetExteriorAngle(), 20}},
        {"light offset", {l->GetLightPositionOffset().getY(), 2}},
        {"draw flags", {static_cast<float>(d->GetDrawFlags()), 5}},
        {"static ghost colour", {d->GetStaticGhostColor().getX(), 0.5f}},
        {"key cards", {static_cast<float>(p->GetKeyCards()), 1}},
        {"power cells", {static_cast<float>(p->GetPowerCells()), 2}},
        {"flare recharge", {p->flareRechargeTime, 8}},
        {"sprint", {p->GetSprintLevel(), 0.5f}},
        {"room",
         {static_cast<float>(
              std::static_pointer_cast<RoomComponent>(get(ComponentType::RoomComponent))->GetRoomID()),
          7}},
    };
    for (const auto& [what, pair] : values)
        EXPECT_NEAR(pair.first, pair.second, 1e-5f) << what;
    EXPECT_EQ(c->GetShapeType(), ShapeType::OBB);
    EXPECT_TRUE(c->IsGhost());
    EXPECT_FALSE(b->IsStatic());
    EXPECT_FALSE(b->GetUseGravity());
    EXPECT_EQ(r->GetModel(), "player");
    EXPECT_EQ(r->GetShader(), "s");
    EXPECT_EQ(r->GetTextures(), std::vector<std::string>{"a.png"});
    EXPECT_TRUE(r->GetTransparency());
    EXPECT_FALSE(r->GetVisibility());
    EXPECT_FALSE(cam->GetDidChange()) << "a size from the file is not a change";
    EXPECT_EQ(std::static_pointer_cast<PickupComponent>(get(ComponentType::PickupComponent))->GetPickupType(),
              "PowerCell");
    EXPECT_EQ(std::static_pointer_cast<GroupComponent>(get(ComponentType::GroupComponent))->GetGroupName(),
              "Doors");
    EXPECT_FALSE(p->perished);
}

TEST_F(FactoryTest, ObjectsRefuseBadComponentsWithALine) {
    auto a = factory.CreateGenericObject().lock();
    auto b = factory.CreateGenericObject().lock();
    auto transform = factory.CreateComponent(L"Transform");
    ASSERT_TRUE(transform);
    EXPECT_TRUE(transform->GetParent().expired());
    EXPECT_TRUE(a->AddComponent(transform));
    EXPECT_EQ(transform->GetParent().lock(), a);
    EXPECT_FALSE(b->AddComponent(transform)) << "already owned";
    EXPECT_FALSE(a->AddComponent(factory.CreateComponent("Transform"))) << "second of a type";
    EXPECT_FALSE(a->AddComponent(nullptr));
    EXPECT_EQ(a->GetComponents().size(), 1u);
    EXPECT_EQ(Log().size(), 3u);

    // While its object is being destroyed nothing new is added.
    bool refused = false;
    Engine::RegisterListener(MessageType::DestroyedComponent,
                             Callable(1, [&](const std::shared_ptr<Message>&) {
                                 refused = !a->AddComponent(factory.CreateComponent("Spawner"));
                             }));
    factory.Destroy(a);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(AnyLineHas(Log(), {"is being destroyed"}));
}

TEST_F(FactoryTest, ComponentsAreMadeByClassNameAndGivenToObjects) {
    auto pause = factory.CreateComponent(L"PauseBehavior");
    ASSERT_TRUE(pause);
    EXPECT_EQ(pause->GetComponentType(), ComponentType::PauseBehavior);
    EXPECT_FALSE(factory.CreateComponent(L"Nonsense"));
    EXPECT_TRUE(AnyLineHas(Log(), {"unknown component class \"Nonsense\""}));

    auto object = factory.CreateGenericObject();
    ASSERT_TRUE(object.lock()->AddComponent(pause));
    Drain();
    auto behavior = std::static_pointer_cast<BehaviorComponent>(pause);
    EXPECT_EQ(behavior->GetActedOnObjectID(), object.lock()->GetID());
    behavior->Update(100.0f);
    EXPECT_GT(behavior->GetTimeLeft(), 0.0f) << "a pause never runs out by itself";
    EXPECT_EQ(behavior->GetGroupName(), "");
    EXPECT_FALSE(behavior->IsBlocking());
    behavior->Finish();
    EXPECT_LE(behavior->GetTimeLeft(), 0.0f);

    Announcements seen;
    auto debug = factory.GiveObjectComponent(object, "Debug");
    ASSERT_TRUE(debug);
    EXPECT_EQ(object.lock()->GetComponent(ComponentType::Debug).lock(), debug);
    EXPECT_FALSE(factory.GiveObjectComponent(object, L"Debug")) << "already has one";
    EXPECT_FALSE(factory.GiveObjectComponent(std::weak_ptr<Object>(), "Debug"));
    Drain();
    ASSERT_EQ(seen.created.size(), 1u);
    EXPECT_EQ(seen.created[0].type, ComponentType::Debug);
}

TEST_F(FactoryTest, LookupsByIdAndNameAndTheObjectMap) {
    auto a = factory.CreateGenericObject().lock();
    auto b = factory.CreateGenericObject().lock();
    auto c = factory.CreateGenericObject().lock();
    a->SetName("Twin");
    c->SetName("Twin");
    b->SetName("Player2");
    EXPECT_EQ(factory.GetObjectByName("Twin").lock(), a) << "lowest id wins";
    EXPECT_EQ(Players::GetPlayer("Player2").lock(), b);
    EXPECT_TRUE(Players::GetPlayer("Player3").expired());
    EXPECT_EQ(factory.GetObjectWithID(b->GetID()).lock(), b);
    EXPECT_TRUE(factory.GetObjectWithID(0).expired());
    EXPECT_LT(a->GetID(), b->GetID());
    EXPECT_LT(b->GetID(), c->GetID());
    factory.Destroy(b);
    std::vector<std::uint32_t> ids;
    for (const auto& [id, object] : factory.GetObjects())
        ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{a->GetID(), c->GetID()}));
    EXPECT_GT(factory.CreateGenericObject().lock()->GetID(), c->GetID()) << "ids are not reused";
}

} // namespace
