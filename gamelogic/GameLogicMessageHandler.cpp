#include "GameLogicMessageHandler.h"

#include "ComponentAccessors.h"
#include "Engine.h"
#include "GameLogic.h"
#include "GameState.h"
#include "Messages.h"
#include "ObjectFactory.h"
#include "Players.h"
#include "RoomHandler.h"

#include <array>

namespace {

constexpr std::uint32_t kLevelLoadSounds[] = {0xF64FB20D, 0x2F6C248F};

bool InPlay() {
    const int state = GameState::GetState();
    return state == GameState::PLAYING || state == GameState::PAUSED;
}

// The player objects that Controllers make players of.
bool IsPlayerObjectName(const std::string& name) {
    return name == "Player1" || name == "Player2" || name == "Player3" || name == "Player4";
}

// "P1".."P4" name the spawners of players 1 to 4; any other two-letter prefix stays as it is.
std::string SpawnerIndexName(const std::string& objectName) {
    const std::string prefix = objectName.substr(0, 2);
    if (prefix == "P1" || prefix == "P2" || prefix == "P3" || prefix == "P4")
        return "Player" + prefix.substr(1);
    return prefix;
}

using Handler = void (GameLogicMessageHandler::*)(const std::shared_ptr<Message>&);
struct Listener {
    MessageType type;
    Handler handler;
};

// Registered in this order, unregistered in the same order.
constexpr std::array<Listener, 12> kListeners{{
    {MessageType::ButtonTrigger, &GameLogicMessageHandler::HandleButtonMessage},
    {MessageType::ButtonPress, &GameLogicMessageHandler::HandleButtonMessage18},
    {MessageType::ButtonRelease, &GameLogicMessageHandler::HandleButtonMessage19},
    {MessageType::Collision, &GameLogicMessageHandler::HandleCollisionMessage},
    {MessageType::CreatedComponent, &GameLogicMessageHandler::HandleCreatedComponentMessage},
    {MessageType::DestroyedComponent, &GameLogicMessageHandler::HandleDestroyedComponentMessage},
    {MessageType::Pause, &GameLogicMessageHandler::HandlePauseMessage},
    {MessageType::ControllerID, &GameLogicMessageHandler::HandleControllerMessage},
    {MessageType::LoadLevel, &GameLogicMessageHandler::HandleLoadLevelMessage},
    {MessageType::GameEvent, &GameLogicMessageHandler::HandleGameEventMessage},
    {MessageType::ViewportResponse, &GameLogicMessageHandler::HandleViewportResponseMessage},
    {MessageType::GiveItems, &GameLogicMessageHandler::HandleGiveItemsMessage},
}};

} // namespace

GameLogicMessageHandler::GameLogicMessageHandler(GameLogic& logic) : mLogic(logic) {
    for (const Listener& listener : kListeners)
        Engine::RegisterListener(listener.type, Callable(this, listener.handler));
}

GameLogicMessageHandler::~GameLogicMessageHandler() {
    for (const Listener& listener : kListeners)
        Engine::UnregisterListener(listener.type, Callable(this, listener.handler));
}

std::shared_ptr<Object> GameLogicMessageHandler::PlayerObject(unsigned playerNumber) const {
    return mLogic.GetLevel()->GetObjectManager().GetPlayerObject(playerNumber).lock();
}

void GameLogicMessageHandler::ToController(const std::shared_ptr<Object>& player,
                                           const std::shared_ptr<Message>& message) {
    if (!player) return;
    if (auto controller = GetComponentOfType<Controller>(player).lock()) controller->HandleMessage(message);
}

void GameLogicMessageHandler::HandleTrigger(const std::shared_ptr<Message>& message, unsigned playerNumber) {
    mLogic.GetLevel()->SetSkip();
    auto player = PlayerObject(playerNumber);
    if (!InPlay() || !player) return;
    if (static_cast<const ButtonMessage&>(*message).GetAction() == "Pause")
        mLogic.TogglePause(player->GetID());
    else
        ToController(player, message);
}

void GameLogicMessageHandler::HandleButtonMessage(const std::shared_ptr<Message>& message) {
    HandleTrigger(message, static_cast<const ButtonMessage&>(*message).GetPlayerNumber());
}

void GameLogicMessageHandler::HandleButtonMessage18(const std::shared_ptr<Message>& message) {
    mLogic.GetLevel()->SetSkip();
    ToController(PlayerObject(static_cast<const ButtonMessage&>(*message).GetPlayerNumber()), message);
}

void GameLogicMessageHandler::HandleButtonMessage19(const std::shared_ptr<Message>& message) {
    mLogic.GetLevel()->SetSkip();
    if (!InPlay()) return;
    ToController(PlayerObject(static_cast<const ButtonMessage&>(*message).GetPlayerNumber()), message);
}

void GameLogicMessageHandler::HandleControllerMessage(const std::shared_ptr<Message>& message) {
    const auto& wrapper = static_cast<const ControllerIDMessage&>(*message);
    const std::shared_ptr<Message>& inner = wrapper.GetWrappedMessage();
    if (!inner) return;
    switch (inner->GetMessageType()) {
    case MessageType::ButtonTrigger:
        HandleTrigger(inner, wrapper.GetPlayerNumber());
        break;
    case MessageType::ButtonPress:
    case MessageType::ButtonRelease:
        mLogic.GetLevel()->SetSkip();
        ToController(PlayerObject(wrapper.GetPlayerNumber()), inner);
        break;
    default: // sticks, analogue triggers, mouse look: no skip
        ToController(PlayerObject(wrapper.GetPlayerNumber()), inner);
        break;
    }
}

void GameLogicMessageHandler::HandleCollisionMessage(const std::shared_ptr<Message>&) {
    // Collision effects belong to the engine's gameplay components.
}

void GameLogicMessageHandler::HandleCreatedComponentMessage(const std::shared_ptr<Message>& message) {
    const auto& created = static_cast<const CreatedComponentMessage&>(*message);
    auto component = created.GetComponentPTR().lock();
    if (!component) return;
    auto parent = component->GetParent().lock();
    if (!parent) return;
    GameObjectManager& objects = mLogic.GetLevel()->GetObjectManager();
    switch (created.GetComponentType()) {
    case ComponentType::Controller:
        if (IsPlayerObjectName(parent->GetName())) mLogic.SetupPlayer(component);
        break;
    case ComponentType::Spawner:
        objects.AddSpawner(SpawnerIndexName(parent->GetName()), parent);
        break;
    case ComponentType::GroupComponent:
        objects.GetOrCreateGroup(static_cast<const GroupComponent&>(*component).GetGroupName())
            ->AddToGroup(parent->GetID());
        break;
    case ComponentType::RoomComponent: {
        const int before = RoomHandler::HowManyRooms();
        auto& rooms = RoomHandler::GetRooms();
        rooms.emplace(static_cast<const RoomComponent&>(*component).GetRoomID(), parent->GetID());
        if (static_cast<int>(rooms.size()) > before) RoomHandler::IncrementRooms();
        RoomHandler::AssignRingToRooms();
        break;
    }
    default:
        break;
    }
}

void GameLogicMessageHandler::HandleDestroyedComponentMessage(const std::shared_ptr<Message>& message) {
    const auto& destroyed = static_cast<const DestroyedComponentMessage&>(*message);
    auto component = destroyed.GetComponentPTR().lock();
    if (!component) return;
    auto parent = component->GetParent().lock();
    if (!parent) return;
    mLogic.RemoveBehaviorsFor(parent->GetID());
    mLogic.RemovePlayer(component, destroyed.GetComponentType());
}

void GameLogicMessageHandler::HandlePauseMessage(const std::shared_ptr<Message>& message) {
    const auto& pause = static_cast<const PauseMessage&>(*message);
    const bool paused = GameState::GetState() == GameState::PAUSED;
    if ((pause.GetType() == PAUSE_GAME && !paused) || (pause.GetType() == UNPAUSE_GAME && paused))
        mLogic.TogglePause(pause.GetObjectID());
}

void GameLogicMessageHandler::HandleLoadLevelMessage(const std::shared_ptr<Message>& message) {
    const auto& load = static_cast<const LoadLevelMessage&>(*message);
    const std::string& name = load.GetFileName();
    GameLevel& level = *mLogic.GetLevel();
    if (name == "restart" || name == "RESTART" || name == "Restart")
        level.Restart();
    else
        level.LoadLevel(name, load.GetPlayers());
    for (std::uint32_t event : kLevelLoadSounds)
        Engine::RelayMessage(std::make_shared<PostSoundEventMessage>(L"GameLevel", event));
}

void GameLogicMessageHandler::HandleGameEventMessage(const std::shared_ptr<Message>& message) {
    const auto& event = static_cast<const GameEventMessage&>(*message);
    const bool escaped = event.GetEventText() == "escape pod launched";
    const bool died = event.GetEventText() == "player died";
    if (!escaped && !died) return;
    auto object = Engine::mFactory->GetObjectWithID(event.GetObjectID()).lock();
    if (!object) return;
    auto collider = GetComponentOfType<Collider>(object).lock();
    auto body = GetComponentOfType<RigidBody>(object).lock();
    auto renderable = GetComponentOfType<Renderable>(object).lock();
    if (escaped) {
        if (collider) collider->SetGhost(true);
        if (body) body->SetStatic(true);
        if (renderable) renderable->SetVisibility(false);
        mLogic.GetLevel()->AddEscaped();
    } else {
        if (collider) collider->SetGhost(true);
        if (renderable) renderable->SetVisibility(false);
        if (body) body->SetUseGravity(false);
        mLogic.GetLevel()->AddDead();
    }
}

void GameLogicMessageHandler::HandleViewportResponseMessage(const std::shared_ptr<Message>& message) {
    const auto& response = static_cast<const ViewportResponseMessage&>(*message);
    ViewportRecord* viewport = mLogic.GetViewport(response.GetPlayerNumber());
    if (!viewport) return;
    viewport->width = response.GetWidth();
    viewport->height = response.GetHeight();
    viewport->topX = response.GetTopX();
    viewport->topY = response.GetTopY();
    viewport->received = true;
}

void GameLogicMessageHandler::HandleGiveItemsMessage(const std::shared_ptr<Message>&) {
    std::array<std::shared_ptr<PlayerStats>, 4> stats;
    for (std::size_t n = 0; n < stats.size(); ++n) {
        auto player = Players::GetPlayer("Player" + std::to_string(n + 1)).lock();
        if (!player) return;
        stats[n] = GetComponentOfType<PlayerStats>(player).lock();
        if (!stats[n]) return;
    }
    for (const auto& playerStats : stats) {
        playerStats->AddKeyCard();
        playerStats->AddPowerCell();
    }
}
