// The game rules' listener object: turns input, created and destroyed components, pause, level
// loads, game events, viewport answers and give-items into game-rule effects. Its twelve listeners
// live from GameLogic::Initialize to GameLogic's destruction. Game thread only.
#pragma once

#include "Message.h"

#include <memory>
#include <string>

class GameLogic;
class Object;

class GameLogicMessageHandler {
public:
    explicit GameLogicMessageHandler(GameLogic& logic);
    ~GameLogicMessageHandler();

    void HandleButtonMessage(const std::shared_ptr<Message>& message);
    void HandleButtonMessage18(const std::shared_ptr<Message>& message);
    void HandleButtonMessage19(const std::shared_ptr<Message>& message);
    void HandleCollisionMessage(const std::shared_ptr<Message>& message);
    void HandleCreatedComponentMessage(const std::shared_ptr<Message>& message);
    void HandleDestroyedComponentMessage(const std::shared_ptr<Message>& message);
    void HandlePauseMessage(const std::shared_ptr<Message>& message);
    void HandleControllerMessage(const std::shared_ptr<Message>& message);
    void HandleLoadLevelMessage(const std::shared_ptr<Message>& message);
    void HandleGameEventMessage(const std::shared_ptr<Message>& message);
    void HandleViewportResponseMessage(const std::shared_ptr<Message>& message);
    void HandleGiveItemsMessage(const std::shared_ptr<Message>& message);

    GameLogicMessageHandler(const GameLogicMessageHandler&) = delete;
    GameLogicMessageHandler& operator=(const GameLogicMessageHandler&) = delete;

private:
    // The object indexed as "Player" + (n + 1); null unless exactly one lives under that name.
    std::shared_ptr<Object> PlayerObject(unsigned playerNumber) const;
    // Type 17: "Pause" toggles the pause in states 3 and 4, anything else goes to the Controller.
    void HandleTrigger(const std::shared_ptr<Message>& message, unsigned playerNumber);
    static void ToController(const std::shared_ptr<Object>& player, const std::shared_ptr<Message>& message);

    GameLogic& mLogic;
};
