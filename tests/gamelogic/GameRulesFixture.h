// The game rules on a clean engine with the real physics system, and a recorder of the messages
// they send.
#pragma once

#include "GameLogic.h"
#include "PhysicsSystem.h"
#include "engine_fixture.h"

#include <MessageRecorder.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gamelogic_test {

// One line per message that a test compares as a sequence: "type:detail".
std::string Describe(const Message& message);
std::vector<std::string> Describe(const std::vector<std::shared_ptr<Message>>& messages);

class GameRulesTest : public EngineTestBase {
protected:
    void TearDown() override {
        recorder.reset();
        EngineTestBase::TearDown();
    }

    // Adds the game rules and physics in the game's order and initialises the engine; the
    // recorder listens from before Initialize.
    void Start(std::vector<MessageType> recorded = {});
    // Points the factory at the game's own levels and archetypes.
    static void UseGameResources();
    // Delivers what is queued without advancing any system's clock.
    static void Deliver() { Engine::RunFrames(1, 0.0f); }

    // A level holding four spawners "P1Spawn".."P4Spawn" at (10n, 1, 0), written to the scratch folder,
    // and the player archetypes "Player1".."Player4" (with a camera unless told otherwise).
    void WritePlayingWorld(bool cameras = true);
    // Creates an object named `name` with a Transform (and a Camera if asked) and gives it a
    // Controller last, so the created-component message sees the complete object.
    std::shared_ptr<Object> MakePlayerObject(const std::string& name, bool camera = true);

    GameLogic* logic = nullptr;
    PhysicsSystem* physics = nullptr;
    std::unique_ptr<MessageRecorder> recorder;
};

} // namespace gamelogic_test
