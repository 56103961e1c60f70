// The loop, the systems' lifecycle and the delivery contract of the message bus.
#include "engine_fixture.h"

#include "EngineTestControl.h"

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using Events = std::vector<std::string>;

std::string Narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

std::shared_ptr<Message> Sound(std::uint32_t id) {
    return std::make_shared<PostSoundEventMessage>(L"Test", id);
}

std::uint32_t SoundId(const std::shared_ptr<Message>& m) {
    return std::static_pointer_cast<PostSoundEventMessage>(m)->GetEventID();
}

// A system that writes what happens to it and runs hooks the test gives it.
class ToySystem : public System {
public:
    ToySystem(const std::wstring& name, Events& events, int releaseResult = 0)
        : System(name), mEvents(events), mReleaseResult(releaseResult) {}
    ~ToySystem() override {
        mEvents.push_back(Narrow(mName) + ":dtor");
        if (onDestroy) onDestroy();
    }
    void Initialize() override {
        mEvents.push_back(Narrow(mName) + ":init");
        if (onInitialize) onInitialize();
    }
    void Update(float dt) override {
        ++updates;
        lastDt = dt;
        mEvents.push_back(Narrow(mName) + ":update");
        if (onUpdate) onUpdate();
    }
    int Release() override {
        mEvents.push_back(Narrow(mName) + ":release");
        return mReleaseResult;
    }
    void HandleMessage(std::shared_ptr<Message> message) override {
        mEvents.push_back(Narrow(mName) + ":handle:" + MessageTypeName(message->GetMessageType()));
        if (onHandle) onHandle(message);
    }
    std::size_t QueueSize() {
        std::lock_guard<std::mutex> lock(mQueueMutex);
        return mMessageQueue.size();
    }
    std::size_t DrainQueue() {
        std::lock_guard<std::mutex> lock(mQueueMutex);
        std::size_t n = 0;
        for (; !mMessageQueue.empty(); ++n)
            mMessageQueue.pop();
        return n;
    }

    std::function<void()> onInitialize, onUpdate, onDestroy;
    std::function<void(const std::shared_ptr<Message>&)> onHandle;
    int updates = 0;
    float lastDt = -1.0f;

private:
    Events& mEvents;
    int mReleaseResult;
};

// A listener object that registers member functions, like the game's handlers.
class Handler {
public:
    Handler(Events& events, std::string name) : mEvents(events), mName(std::move(name)) {}
    void OnMessage(const std::shared_ptr<Message>& m) {
        mEvents.push_back(mName + ":" + std::to_string(static_cast<int>(m->GetMessageType())));
        if (hook) hook(m);
    }
    void OnOther(const std::shared_ptr<Message>&) { mEvents.push_back(mName + ":other"); }
    std::function<void(const std::shared_ptr<Message>&)> hook;

private:
    Events& mEvents;
    std::string mName;
};

class BusTest : public EngineTestBase {
protected:
    Events events;
};

TEST_F(BusTest, LifecycleFollowsAddOrderAndReleaseDeletesAfterReleasingAll) {
    Engine::AddSystem(new ToySystem(L"A", events));
    Engine::AddSystem(new ToySystem(L"B", events));
    Engine::Initialize();
    EXPECT_EQ(Engine::RunFrames(2, 0.1f), 2);
    EXPECT_EQ(Engine::Release(), 0);
    EXPECT_EQ(events, (Events{"A:init", "B:init", "A:update", "B:update", "A:update", "B:update", "A:release",
                              "B:release", "A:dtor", "B:dtor"}));
}

TEST_F(BusTest, ReleaseReturnsTheFirstNonZeroSystemResult) {
    Engine::AddSystem(new ToySystem(L"A", events, 0));
    Engine::AddSystem(new ToySystem(L"B", events, 7));
    Engine::AddSystem(new ToySystem(L"C", events, 9));
    Engine::Initialize();
    EXPECT_EQ(Engine::Release(), 7);
    EXPECT_EQ(Engine::Release(), 0) << "a second release has no systems left";
}

TEST_F(BusTest, RelayedMessagesGoFifoToListenersAfterEveryUpdateIncludingThoseRelayedDuringTheDrain) {
    auto* a = new ToySystem(L"A", events);
    auto* b = new ToySystem(L"B", events);
    a->onUpdate = [] { Engine::RelayMessage(Sound(1)); };
    b->onUpdate = [] { Engine::RelayMessage(Sound(2)); };
    Engine::AddSystem(a);
    Engine::AddSystem(b);
    Handler h(events, "L");
    h.hook = [&](const std::shared_ptr<Message>& m) {
        events.push_back("id" + std::to_string(SoundId(m)));
        if (SoundId(m) == 1) Engine::RelayMessage(Sound(3));
    };
    Engine::RegisterListener(MessageType::PostSoundEvent, Callable(&h, &Handler::OnMessage));
    Engine::Initialize();
    events.clear();
    Engine::RunFrames(1, 0.016f);
    // Relayed messages never reach HandleMessage.
    EXPECT_EQ(events, (Events{"A:update", "B:update", "L:35", "id1", "L:35", "id2", "L:35", "id3"}));
    EXPECT_EQ(EngineTest::PendingRelayedMessages(), 0u);
}

TEST_F(BusTest, MessagesRelayedDuringInitializeAreDeliveredOnceBeforeTheFirstFrameInOrder) {
    auto* a = new ToySystem(L"A", events);
    auto* b = new ToySystem(L"B", events);
    a->onInitialize = [] { Engine::RelayMessage(Sound(1)); };
    b->onInitialize = [] { Engine::RelayMessage(Sound(2)); };
    Engine::AddSystem(a);
    Engine::AddSystem(b);
    std::vector<std::uint32_t> got;
    Engine::RegisterListener(MessageType::PostSoundEvent, Callable(1, [&](const std::shared_ptr<Message>& m) {
                                 got.push_back(SoundId(m));
                             }));
    Engine::Initialize();
    EXPECT_EQ(got, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(a->updates, 0);
    Engine::RunFrames(1, 0.0f);
    EXPECT_EQ(got.size(), 2u) << "delivered once";
}

TEST_F(BusTest, ImmediateMessagesReachListenersThenEverySystemBeforeReturningAndCarryAnswersBack) {
    auto* window = new ToySystem(L"Window", events);
    window->onHandle = [](const std::shared_ptr<Message>& m) {
        if (m->GetMessageType() != MessageType::WindowSize) return;
        auto size = std::static_pointer_cast<WindowSizeMessage>(m);
        size->SetWidth(1600);
        size->SetHeight(900);
    };
    Engine::AddSystem(new ToySystem(L"ErrorLogger", events));
    Engine::AddSystem(window);
    Handler h(events, "L");
    Engine::RegisterListener(MessageType::WindowSize, Callable(&h, &Handler::OnMessage));
    Engine::Initialize();
    events.clear();

    auto message = std::make_shared<WindowSizeMessage>(L"Graphics", 0, 0);
    Engine::ImmediateMessage(message);
    EXPECT_EQ(events, (Events{"L:3", "ErrorLogger:handle:WindowSize", "Window:handle:WindowSize"}));
    EXPECT_EQ(message->GetWidth(), 1600);
    EXPECT_EQ(message->GetHeight(), 900);
    EXPECT_EQ(window->updates, 0);
}

TEST_F(BusTest, ImmediateDeliveryIsReentrant) {
    Handler outer(events, "outer"), inner(events, "inner");
    outer.hook = [&](const std::shared_ptr<Message>&) {
        Engine::ImmediateMessage(std::make_shared<DisplayCursorMessage>(L"Test", true));
        events.push_back("outer:end");
    };
    Engine::RegisterListener(MessageType::Pause, Callable(&outer, &Handler::OnMessage));
    Engine::RegisterListener(MessageType::DisplayCursor, Callable(&inner, &Handler::OnMessage));
    Engine::ImmediateMessage(std::make_shared<PauseMessage>(L"Test", PAUSE_GAME, 0));
    EXPECT_EQ(events, (Events{"outer:38", "inner:40", "outer:end"}));
}

TEST_F(BusTest, ListenersAreCalledInRegistrationOrderAndUnregisterRemovesExactlyTheSameId) {
    Handler first(events, "first"), second(events, "second");
    Engine::RegisterListener(MessageType::GameEvent, Callable(&first, &Handler::OnMessage));
    Engine::RegisterListener(MessageType::GameEvent, Callable(&second, &Handler::OnMessage));
    Engine::RegisterListener(MessageType::GameEvent, Callable(&first, &Handler::OnOther));
    auto event = std::make_shared<GameEventMessage>(L"Test", "player died", 4);
    Engine::ImmediateMessage(event);
    EXPECT_EQ(events, (Events{"first:54", "second:54", "first:other"}));

    // Same handler, other owner: only that pair goes. Same owner, other handler: stays.
    events.clear();
    Engine::UnregisterListener(MessageType::GameEvent, Callable(&first, &Handler::OnMessage));
    Engine::ImmediateMessage(event);
    EXPECT_EQ(events, (Events{"second:54", "first:other"}));

    // Unregistering under another type, or twice, changes nothing.
    events.clear();
    Engine::UnregisterListener(MessageType::Pause, Callable(&second, &Handler::OnMessage));
    Engine::UnregisterListener(MessageType::GameEvent, Callable(&first, &Handler::OnMessage));
    Engine::ImmediateMessage(event);
    EXPECT_EQ(events, (Events{"second:54", "first:other"}));
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::GameEvent), 2u);
}

TEST_F(BusTest, HandlersMayRegisterAndUnregisterDuringDelivery) {
    Handler self(events, "self"), victim(events, "victim"), late(events, "late");
    self.hook = [&](const std::shared_ptr<Message>&) {
        Engine::UnregisterListener(MessageType::Pause, Callable(&self, &Handler::OnMessage));
        Engine::UnregisterListener(MessageType::Pause, Callable(&victim, &Handler::OnMessage));
        Engine::RegisterListener(MessageType::Pause, Callable(&late, &Handler::OnMessage));
    };
    Engine::RegisterListener(MessageType::Pause, Callable(&self, &Handler::OnMessage));
    Engine::RegisterListener(MessageType::Pause, Callable(&victim, &Handler::OnMessage));

    Engine::RelayMessage(std::make_shared<PauseMessage>(L"Test", PAUSE_GAME, 0));
    Engine::RelayMessage(std::make_shared<PauseMessage>(L"Test", UNPAUSE_GAME, 0));
    Drain();
    // The victim was removed before its turn; the late one gets only the next message.
    EXPECT_EQ(events, (Events{"self:38", "late:38"}));
}

TEST_F(BusTest, AListenerWhoseOwnerIsDeletedDuringDeliveryIsNotCalled) {
    auto* doomed = new Handler(events, "doomed");
    auto unregisterAndDelete = [&] {
        Engine::UnregisterListener(MessageType::Pause, Callable(doomed, &Handler::OnMessage));
        delete doomed;
    };
    Handler killer(events, "killer");
    killer.hook = [&](const std::shared_ptr<Message>&) { unregisterAndDelete(); };
    Engine::RegisterListener(MessageType::Pause, Callable(&killer, &Handler::OnMessage));
    Engine::RegisterListener(MessageType::Pause, Callable(doomed, &Handler::OnMessage));
    Engine::ImmediateMessage(std::make_shared<PauseMessage>(L"Test", PAUSE_GAME, 0));
    EXPECT_EQ(events, (Events{"killer:38"}));
}

TEST_F(BusTest, AQuitMessageEndsTheLoopAfterTheCurrentFrame) {
    auto* a = new ToySystem(L"A", events);
    auto* b = new ToySystem(L"B", events);
    a->onUpdate = [&] {
        if (a->updates == 3) Engine::RelayMessage(std::make_shared<Message>(L"Input", MessageType::Quit));
    };
    Engine::AddSystem(a);
    Engine::AddSystem(b);
    Engine::Initialize();
    EXPECT_EQ(Engine::RunFrames(10, 0.01f), 3);
    EXPECT_EQ(b->updates, 3) << "the frame in which quit arrived finishes";
    EXPECT_EQ(Engine::RunFrames(10, 0.01f), 0) << "the loop stays ended until Release";
}

TEST_F(BusTest, GameLoopRunsWithMeasuredClampedFrameTimesUntilQuit) {
    auto* a = new ToySystem(L"A", events);
    std::vector<float> dts;
    a->onUpdate = [&] {
        dts.push_back(a->lastDt);
        if (a->updates == 2) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (a->updates == 5)
            Engine::ImmediateMessage(std::make_shared<Message>(L"Graphics", MessageType::Quit));
    };
    Engine::AddSystem(a);
    Engine::Initialize();
    Engine::GameLoop();
    ASSERT_EQ(dts.size(), 5u);
    for (float dt : dts) {
        EXPECT_GE(dt, 0.0f);
        EXPECT_LE(dt, Engine::kMaxFrameTime);
    }
    EXPECT_FLOAT_EQ(dts[2], Engine::kMaxFrameTime) << "a 300 ms frame is clamped";
}

TEST_F(BusTest, FixedFrameTimesAreClampedToTheRange) {
    auto* a = new ToySystem(L"A", events);
    Engine::AddSystem(a);
    Engine::Initialize();
    const struct {
        float given, seen;
    } cases[] = {{0.016f, 0.016f},
                 {0.25f, 0.25f},
                 {5.0f, 0.25f},
                 {-1.0f, 0.0f},
                 {std::numeric_limits<float>::quiet_NaN(), 0.0f},
                 {std::numeric_limits<float>::infinity(), 0.25f}};
    for (const auto& c : cases) {
        Engine::RunFrames(1, c.given);
        EXPECT_EQ(a->lastDt, c.seen) << "given " << c.given;
    }
}

TEST_F(BusTest, ARunawayRelayChainIsCappedPerFrameAndResumesNextFrame) {
    std::size_t delivered = 0;
    const std::size_t total = Engine::kMaxRelayedPerFrame + 5;
    Engine::RegisterListener(MessageType::PostSoundEvent, Callable(1, [&](const std::shared_ptr<Message>&) {
                                 if (++delivered < total) Engine::RelayMessage(Sound(0));
                             }));
    Engine::RelayMessage(Sound(0));
    Drain();
    EXPECT_EQ(delivered, Engine::kMaxRelayedPerFrame);
    EXPECT_EQ(EngineTest::PendingRelayedMessages(), 1u);
    EXPECT_TRUE(AnyLineHas(Log(), {"10000 relayed messages", "1 left"}));
    Drain();
    EXPECT_EQ(delivered, total);
}

TEST_F(BusTest, SystemDestructorsMayStillUnregisterAndNothingOutlivesRelease) {
    auto* a = new ToySystem(L"A", events);
    Handler h(events, "h");
    a->onInitialize = [&] {
        Engine::RegisterListener(MessageType::Pause, Callable(&h, &Handler::OnMessage));
    };
    a->onDestroy = [&] {
        Engine::UnregisterListener(MessageType::Pause, Callable(&h, &Handler::OnMessage));
        Engine::ImmediateMessage(
            std::make_shared<ErrorMessage>(L"Error Message", "bye", false, "A::~A", "A", 1));
    };
    Engine::AddSystem(a);
    Engine::AddSystem(new ToySystem(L"B", events));
    Engine::Initialize();
    Engine::RelayMessage(Sound(1));
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::Pause), 1u);
    events.clear();
    EXPECT_EQ(Engine::Release(), 0);
    // A's report reaches B, which is still alive, and not A itself.
    EXPECT_EQ(events, (Events{"A:release", "B:release", "A:dtor", "B:handle:Error", "B:dtor"}));
    EXPECT_EQ(EngineTest::ListenerCount(MessageType::Pause), 0u);
    EXPECT_EQ(EngineTest::PendingRelayedMessages(), 0u);
}

TEST_F(BusTest, TheEngineNeverFillsSystemQueuesSoNothingIsHandledTwice) {
    auto* sound = new ToySystem(L"Sound", events);
    Engine::AddSystem(sound);
    int heard = 0;
    Engine::RegisterListener(MessageType::PostSoundEvent,
                             Callable(1, [&](const std::shared_ptr<Message>&) { ++heard; }));
    Engine::Initialize();
    Engine::RelayMessage(Sound(5));
    Engine::ImmediateMessage(Sound(6));
    Drain();
    EXPECT_EQ(heard, 2);
    EXPECT_EQ(sound->QueueSize(), 0u);
}

TEST_F(BusTest, TransmitQueueIsSafeFromOtherThreadsWhileTheSystemDrains) {
    auto* sound = new ToySystem(L"Sound", events);
    Engine::AddSystem(sound);
    constexpr int kThreads = 4, kEach = 500;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                sound->TransmitQueue(Sound(static_cast<std::uint32_t>(i)));
            --running;
        });
    std::size_t drained = 0;
    while (running > 0)
        drained += sound->DrainQueue();
    for (auto& thread : threads)
        thread.join();
    drained += sound->DrainQueue();
    EXPECT_EQ(drained, static_cast<std::size_t>(kThreads * kEach));
}

TEST_F(BusTest, AddingNoSystemOrTheSameSystemTwiceIsReportedAndHarmless) {
    auto* a = new ToySystem(L"A", events);
    Engine::AddSystem(nullptr);
    Engine::AddSystem(a);
    Engine::AddSystem(a);
    Engine::Initialize();
    Engine::Initialize();
    const auto log = Log();
    EXPECT_TRUE(AnyLineHas(log, {"AddSystem with no system"}));
    EXPECT_TRUE(AnyLineHas(log, {"\"A\" added twice"}));
    EXPECT_TRUE(AnyLineHas(log, {"Initialize called twice"}));
    EXPECT_EQ(events, (Events{"A:init"}));
}

TEST(CallableIdTest, TheSameOwnerAndHandlerGiveTheSameIdAndDifferentPairsDiffer) {
    Events events;
    Handler one(events, "1"), two(events, "2");
    const auto id = Callable(&one, &Handler::OnMessage).GetID();
    EXPECT_EQ(Callable(&one, &Handler::OnMessage).GetID(), id);
    EXPECT_NE(Callable(&two, &Handler::OnMessage).GetID(), id);
    EXPECT_NE(Callable(&one, &Handler::OnOther).GetID(), id);
    EXPECT_NE(Callable(&two, &Handler::OnOther).GetID(), Callable(&one, &Handler::OnOther).GetID());
    EXPECT_EQ(Callable::IdOf(&one, &Handler::OnMessage), id);
}

TEST(MessageTypeTest, NumbersAreUniqueAndButtonsCarrySeventeenToNineteen) {
    std::vector<int> values;
#define COLLECT(name, value) values.push_back(value);
    ZURARI_MESSAGE_TYPES(COLLECT)
#undef COLLECT
    std::sort(values.begin(), values.end());
    EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end());
    EXPECT_EQ(static_cast<int>(ButtonTriggerMessage(L"Input", "Pause", 0).GetMessageType()), 17);
    EXPECT_EQ(static_cast<int>(ButtonPressMessage(L"Input", "Pause", 0).GetMessageType()), 18);
    EXPECT_EQ(static_cast<int>(ButtonReleaseMessage(L"Input", "Pause", 0).GetMessageType()), 19);
    EXPECT_STREQ(MessageTypeName(MessageType::Quit), "Quit");
    EXPECT_STREQ(MessageTypeName(static_cast<MessageType>(11)), "Unknown");
    // The numbers the game's systems rely on.
    const std::pair<MessageType, int> fixed[] = {{MessageType::Error, 1},
                                                 {MessageType::WindowSize, 3},
                                                 {MessageType::SDLEvent, 12},
                                                 {MessageType::Quit, 13},
                                                 {MessageType::CreatedComponent, 21},
                                                 {MessageType::DestroyedComponent, 22},
                                                 {MessageType::PostSoundEvent, 35},
                                                 {MessageType::SoundRTPC, 42},
                                                 {MessageType::SeekSoundEvent, 43},
                                                 {MessageType::StopAllSounds, 52},
                                                 {MessageType::ControllerID, 53},
                                                 {MessageType::ViewportResponse, 59}};
    for (const auto& [type, number] : fixed)
        EXPECT_EQ(static_cast<int>(type), number) << MessageTypeName(type);
}

} // namespace

namespace {

TEST(MessageClassTest, EachClassCarriesItsNumberAndItsValues) {
    using namespace Vectormath::Aos;
    const SDL_Event event{};
    auto wrapped = std::make_shared<ButtonTriggerMessage>(L"Input", "Use", 2);
    const std::pair<std::shared_ptr<Message>, int> table[] = {
        {std::make_shared<ErrorMessage>(L"Error Message", "t", true, "f", "s", 1), 1},
        {std::make_shared<WindowMessage>(L"Window", nullptr, nullptr), 2},
        {std::make_shared<WindowSizeMessage>(L"Graphics", 0, 0), 3},
        {std::make_shared<GraphicsDeviceMessage>(L"Graphics", 0, 0), 4},
        {std::make_shared<LoadResourceMessage>(L"GameLevel", RESOURCE_TEXTURE, "a.png"), 5},
        {std::make_shared<SetBackgroundColorMessage>(L"x", Vector3(0.0f)), 6},
        {std::make_shared<ShowMenuMessage>(L"Graphics", MENU_PAUSE, true), 7},
        {std::make_shared<DebugMessage>(L"x", 1, 4, Vector4(), Vector4(), Vector4(), Vector4()), 9},
        {std::make_shared<SDLEventMessage>(L"Input", event), 12},
        {std::make_shared<PhysicsMessage>(L"GameLogic", PHYSICS_SET_POSITION, 3, Vector3(0.0f)), 15},
        {std::make_shared<CollisionMessage>(L"Physics", COLLISION_STARTED, 1, 2), 16},
        {std::make_shared<CreatedComponentMessage>(L"x", ComponentType::Camera, std::weak_ptr<Component>()),
         21},
        {std::make_shared<DestroyedComponentMessage>(L"x", ComponentType::Camera, std::weak_ptr<Component>()),
         22},
        {std::make_shared<ControllerVibrateMessage>(L"x", std::weak_ptr<Component>(), 1.0f, 0.5f), 33},
        {std::make_shared<ControllerVibrateMotorsMessage>(L"x", std::weak_ptr<Component>(), 1.0f, 0.5f, 0.2f),
         34},
        {std::make_shared<PostSoundEventMessage>(L"GameLogic", 0xF64FB20Du), 35},
        {std::make_shared<RegisterCameraMessage>(L"GameLogic", std::weak_ptr<Camera>(), 1), 36},
        {std::make_shared<ChangePlayerMode>(L"GameLogic", 2), 37},
        {std::make_shared<PauseMessage>(L"GameLogic", UNPAUSE_GAME, 4), 38},
        {std::make_shared<LoadLevelMessage>(L"Graphics", "Arena", 4), 39},
        {std::make_shared<DisplayCursorMessage>(L"GameLevel", false), 40},
        {std::make_shared<SoundRTPCMessage>(L"Graphics", "Music", 50.0f), 42},
        {std::make_shared<SeekSoundEventMessage>(L"x", 7, 0.5f, 0), 43},
        {std::make_shared<ImGuiReferenceMessage>(L"Graphics", nullptr), 44},
        {std::make_shared<FullScreenMessage>(L"ImGui", true), 46},
        {std::make_shared<HasKeyboardFocusMessage>(L"Input", false), 47},
        {std::make_shared<StopAllSoundsMessage>(L"x"), 52},
        {std::make_shared<ControllerIDMessage>(L"Input", wrapped, 2), 53},
        {std::make_shared<GameEventMessage>(L"x", "player died", 9), 54},
        {std::make_shared<ViewportRequestMessage>(L"GameLogic", 1), 57},
        {std::make_shared<ViewportResponseMessage>(L"Graphics", 1, 800, 450, 0, 450), 59},
    };
    for (const auto& [message, number] : table)
        EXPECT_EQ(static_cast<int>(message->GetMessageType()), number)
            << MessageTypeName(message->GetMessageType());

    // The input messages the engine numbers itself get distinct, otherwise unused numbers.
    const std::shared_ptr<Message> input[] = {std::make_shared<LeftTriggerTriggerMessage>(L"Input", 0),
                                              std::make_shared<RightTriggerTriggerMessage>(L"Input", 0),
                                              std::make_shared<RightTriggerPressMessage>(L"Input", 0),
                                              std::make_shared<LeftTriggerReleaseMessage>(L"Input", 0),
                                              std::make_shared<RightTriggerReleaseMessage>(L"Input", 0),
                                              std::make_shared<LeftStickMessage>(L"Input", 7850, -3, 0),
                                              std::make_shared<RightStickMessage>(L"Input", 0, 0, 0),
                                              std::make_shared<MouseLookMessage>(L"Mouse", 1.0f, -1.0f, 0)};
    std::vector<int> numbers;
    for (const auto& m : input)
        numbers.push_back(static_cast<int>(m->GetMessageType()));
    for (const auto& [message, number] : table)
        numbers.push_back(number);
    numbers.push_back(13);
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());

    auto response = std::static_pointer_cast<ViewportResponseMessage>(table[30].first);
    EXPECT_EQ(response->GetPlayerNumber(), 1u);
    EXPECT_EQ(response->GetWidth(), 800.0f);
    EXPECT_EQ(response->GetHeight(), 450.0f);
    EXPECT_EQ(response->GetTopX(), 0.0f);
    EXPECT_EQ(response->GetTopY(), 450.0f);
    auto id = std::static_pointer_cast<ControllerIDMessage>(table[27].first);
    EXPECT_EQ(id->GetWrappedMessage(), wrapped);
    EXPECT_EQ(id->GetPlayerNumber(), 2u);
    auto physics = std::static_pointer_cast<PhysicsMessage>(table[9].first);
    physics->SetGroupName("Player1");
    physics->SetFlag(true);
    EXPECT_EQ(physics->GetType(), PHYSICS_SET_POSITION);
    EXPECT_EQ(physics->GetObjectID(), 3u);
    EXPECT_EQ(physics->GetGroupName(), "Player1");
    EXPECT_TRUE(physics->GetFlag());
    EXPECT_EQ(physics->GetFirstGroupName(), "");
    EXPECT_EQ(std::static_pointer_cast<SDLEventMessage>(table[8].first)->GetHandled(), 0);
    EXPECT_EQ(std::static_pointer_cast<LeftStickMessage>(input[5])->GetX(), 7850);
    EXPECT_EQ(table[0].first->GetSender(), L"Error Message");
}

} // namespace
