#include "GameRulesFixture.h"

#include "EngineTestControl.h"

#include <sstream>

namespace gamelogic_test {

std::string Describe(const Message& message) {
    std::ostringstream out;
    out << static_cast<int>(message.GetMessageType()) << ":";
    switch (message.GetMessageType()) {
    case MessageType::Pause:
        out << static_cast<const PauseMessage&>(message).GetType() << ","
            << static_cast<const PauseMessage&>(message).GetObjectID();
        break;
    case MessageType::ShowMenu:
        out << static_cast<const ShowMenuMessage&>(message).GetType() << ","
            << static_cast<const ShowMenuMessage&>(message).IsVisible();
        break;
    case MessageType::PostSoundEvent:
        out << std::hex << std::uppercase << static_cast<const PostSoundEventMessage&>(message).GetEventID();
        break;
    case MessageType::DisplayCursor:
        out << static_cast<const DisplayCursorMessage&>(message).GetDisplayCursor();
        break;
    case MessageType::ChangePlayerMode:
        out << static_cast<const ChangePlayerMode&>(message).GetPlayerMode();
        break;
    case MessageType::RegisterCamera:
        out << static_cast<const RegisterCameraMessage&>(message).GetPlayerNumber();
        break;
    case MessageType::ViewportRequest:
        out << static_cast<const ViewportRequestMessage&>(message).GetPlayerNumber();
        break;
    case MessageType::LoadResource:
        out << static_cast<const LoadResourceMessage&>(message).GetType() << ","
            << static_cast<const LoadResourceMessage&>(message).GetName();
        break;
    default:
        break;
    }
    return out.str();
}

std::vector<std::string> Describe(const std::vector<std::shared_ptr<Message>>& messages) {
    std::vector<std::string> lines;
    for (const auto& message : messages)
        lines.push_back(Describe(*message));
    return lines;
}

void GameRulesTest::Start(std::vector<MessageType> recorded) {
    logic = new GameLogic(L"GameLogic");
    physics = new PhysicsSystem(L"Physics");
    Engine::AddSystem(logic);
    Engine::AddSystem(physics);
    recorder = std::make_unique<MessageRecorder>(std::move(recorded));
    Engine::Initialize();
}

void GameRulesTest::UseGameResources() {
    EngineTest::SetResourceRoot(TORVIK_RESOURCES_DIR);
}

void GameRulesTest::WritePlayingWorld(bool cameras) {
    std::string objects;
    for (int n = 1; n <= 4; ++n) {
        if (!objects.empty()) objects += ",";
        objects += R"({"name": "P)" + std::to_string(n) +
                   R"(Spawn", "components": {"Transform": {"position": [)" + std::to_string(10 * n) +
                   R"(, 1, 0]}, "Spawner": {}}})";
    }
    WriteLevel("Full_Level_Test", R"({"objects": [)" + objects + "]}");
    for (int n = 1; n <= 4; ++n) {
        const std::string camera = cameras ? R"(, "Camera": {})" : "";
        WriteArchetype(
            "Player" + std::to_string(n),
            R"({"components": {"Transform": {}, "RigidBody": {"useGravity": false}, "Collider": {},)"
            R"( "Renderable": {"model": "splashcube"}, "PlayerStats": {})" +
                camera + R"(, "Controller": {}}})");
    }
    WriteArchetype("Arbiter", R"({"components": {"LevelRuleset": {}}})");
}

std::shared_ptr<Object> GameRulesTest::MakePlayerObject(const std::string& name, bool camera) {
    auto object = Engine::mFactory->CreateGenericObject().lock();
    object->SetName(name);
    object->AddComponent(std::make_shared<Transform>());
    if (camera) object->AddComponent(std::make_shared<Camera>());
    object->AddComponent(std::make_shared<Controller>());
    return object;
}

} // namespace gamelogic_test
