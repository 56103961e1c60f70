#include "ComponentAccessors.h"

#include "Engine.h"
#include "ObjectFactory.h"

#include <gtest/gtest.h>

namespace {

class ComponentAccessorsTest : public ::testing::Test {
protected:
    void TearDown() override { Engine::Release(); }

    std::shared_ptr<Object> NewObject() { return Engine::mFactory->CreateGenericObject().lock(); }
};

TEST_F(ComponentAccessorsTest, EachMemberFindsItsOwnClass) {
    auto object = NewObject();
    ASSERT_TRUE(object);
    auto renderable = std::make_shared<Renderable>();
    auto body = std::make_shared<RigidBody>();
    auto collider = std::make_shared<Collider>();
    auto transform = std::make_shared<Transform>();
    auto controller = std::make_shared<Controller>();
    auto stats = std::make_shared<PlayerStats>();
    auto debug = std::make_shared<Debug>();
    auto camera = std::make_shared<Camera>();
    auto spawner = std::make_shared<Spawner>();
    auto ruleset = std::make_shared<LevelRuleset>();
    auto light = std::make_shared<Light>();
    for (std::shared_ptr<Component> c :
         std::initializer_list<std::shared_ptr<Component>>{renderable, body, collider, transform, controller,
                                                           stats, debug, camera, spawner, ruleset, light})
        ASSERT_TRUE(object->AddComponent(c));

    EXPECT_EQ(GetComponentOfType<Renderable>(*object).lock(), renderable);
    EXPECT_EQ(GetComponentOfType<RigidBody>(*object).lock(), body);
    EXPECT_EQ(GetComponentOfType<Collider>(*object).lock(), collider);
    EXPECT_EQ(GetComponentOfType<Transform>(*object).lock(), transform);
    EXPECT_EQ(GetComponentOfType<Controller>(*object).lock(), controller);
    EXPECT_EQ(GetComponentOfType<PlayerStats>(*object).lock(), stats);
    EXPECT_EQ(GetComponentOfType<Debug>(*object).lock(), debug);
    EXPECT_EQ(GetComponentOfType<Camera>(*object, ComponentType::Camera).lock(), camera);
    EXPECT_EQ(GetComponentOfType<Spawner>(*object).lock(), spawner);
    EXPECT_EQ(GetComponentOfType<LevelRuleset>(*object).lock(), ruleset);
    EXPECT_EQ(GetComponentOfType<Light>(*object).lock(), light);
    // The shared-pointer overloads give the same.
    EXPECT_EQ(GetComponentOfType<Transform>(object).lock(), transform);
    EXPECT_EQ(GetComponentOfType<Camera>(object, ComponentType::Camera).lock(), camera);
}

TEST_F(ComponentAccessorsTest, MissingComponentIsEmptyNeverAnotherClass) {
    auto object = NewObject();
    ASSERT_TRUE(object->AddComponent(std::make_shared<Transform>()));
    ASSERT_TRUE(object->AddComponent(std::make_shared<Collider>()));
    EXPECT_TRUE(GetComponentOfType<RigidBody>(*object).expired());
    EXPECT_TRUE(GetComponentOfType<Renderable>(*object).expired());
    EXPECT_TRUE(GetComponentOfType<Camera>(*object, ComponentType::Camera).expired());
    // A camera asked for under another class's number must not hand out that other component.
    EXPECT_TRUE(GetComponentOfType<Camera>(*object, ComponentType::Transform).expired());
    EXPECT_TRUE(GetComponentOfType<Transform>(std::shared_ptr<Object>()).expired());
}

TEST_F(ComponentAccessorsTest, DestroyedComponentGivesEmptyPointer) {
    auto object = NewObject();
    ASSERT_TRUE(object->AddComponent(std::make_shared<RigidBody>()));
    std::weak_ptr<RigidBody> body = GetComponentOfType<RigidBody>(*object);
    ASSERT_FALSE(body.expired());
    const std::uint32_t id = object->GetID();
    object.reset();
    Engine::mFactory->Destroy(id);
    EXPECT_TRUE(body.expired());
    EXPECT_TRUE(Engine::mFactory->GetObjectWithID(id).expired());
}

} // namespace
