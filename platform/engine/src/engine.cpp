#include "Engine.h"

#include "EngineTestControl.h"
#include "ObjectFactory.h"
#include "System.h"
#include "detail.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

Message::~Message() = default;

namespace {

struct Listener {
    std::uint64_t serial; // unique per registration: tells a live entry from a removed one
    Callable callable;
};

struct EngineState {
    std::vector<System*> systems;
    std::unordered_map<int, std::vector<Listener>> listeners;
    std::unordered_set<std::uint64_t> liveSerials;
    std::uint64_t nextSerial = 1;
    std::deque<std::shared_ptr<Message>> relayed;
    bool initialized = false;
    bool quit = false;
};

// Built on first use and never destroyed: systems and objects that outlive Release (or static
// destructors) may still unregister or send.
EngineState& State() {
    static EngineState* state = new EngineState;
    return *state;
}

ObjectFactory& Factory() {
    static ObjectFactory* factory = new ObjectFactory;
    return *factory;
}

float ClampFrameTime(float dt) {
    if (!(dt > 0.0f)) return 0.0f; // negative or NaN
    return std::min(dt, Engine::kMaxFrameTime);
}

void Deliver(const std::shared_ptr<Message>& message) {
    EngineState& state = State();
    if (message->GetMessageType() == MessageType::Quit) state.quit = true;
    auto found = state.listeners.find(static_cast<int>(message->GetMessageType()));
    if (found == state.listeners.end()) return;
    // A snapshot: handlers may register or unregister while we walk it.
    const std::vector<Listener> snapshot = found->second;
    for (const Listener& listener : snapshot) {
        if (state.liveSerials.count(listener.serial) == 0) continue;
        listener.callable(message);
    }
}

void DrainRelayed() {
    EngineState& state = State();
    std::size_t delivered = 0;
    while (!state.relayed.empty()) {
        if (delivered == Engine::kMaxRelayedPerFrame) {
            zurari::Log("Engine: " + std::to_string(delivered) + " relayed messages in one frame; " +
                        std::to_string(state.relayed.size()) + " left for the next frame");
            return;
        }
        std::shared_ptr<Message> message = std::move(state.relayed.front());
        state.relayed.pop_front();
        Deliver(message);
        ++delivered;
    }
}

void RunFrame(float dt) {
    const std::vector<System*> systems = State().systems;
    for (System* system : systems)
        system->Update(dt);
    DrainRelayed();
}

} // namespace

ObjectFactory* Engine::mFactory = &Factory();

void Engine::AddSystem(System* system) {
    if (system == nullptr) {
        zurari::Log("Engine: AddSystem with no system ignored");
        return;
    }
    EngineState& state = State();
    if (std::find(state.systems.begin(), state.systems.end(), system) != state.systems.end()) {
        zurari::Log("Engine: system \"" + zurari::Narrow(system->GetName()) + "\" added twice; kept once");
        return;
    }
    state.systems.push_back(system);
}

void Engine::Initialize() {
    EngineState& state = State();
    if (state.initialized) {
        zurari::Log("Engine: Initialize called twice; ignored");
        return;
    }
    state.initialized = true;
    const std::vector<System*> systems = state.systems;
    for (System* system : systems)
        system->Initialize();
    DrainRelayed();
}

void Engine::GameLoop() {
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    while (!State().quit) {
        const auto now = Clock::now();
        const float dt = std::chrono::duration<float>(now - last).count();
        last = now;
        RunFrame(ClampFrameTime(dt));
    }
}

int Engine::RunFrames(int frames, float dt) {
    const float step = ClampFrameTime(dt);
    int run = 0;
    while (run < frames && !State().quit) {
        RunFrame(step);
        ++run;
    }
    return run;
}

int Engine::Release() {
    EngineState& state = State();
    int status = 0;
    const std::vector<System*> systems = state.systems;
    for (System* system : systems) {
        const int result = system->Release();
        if (status == 0) status = result;
    }
    // Destructors still see the listener table: several unregister there. Each system leaves the
    // list before its destructor runs, so what a destructor sends reaches only live systems.
    for (System* system : systems) {
        state.systems.erase(std::find(state.systems.begin(), state.systems.end(), system));
        delete system;
    }
    mFactory->DestroyAllObjects();
    state.listeners.clear();
    state.liveSerials.clear();
    state.relayed.clear();
    state.initialized = false;
    state.quit = false;
    return status;
}

void Engine::RegisterListener(MessageType type, Callable callable) {
    EngineState& state = State();
    const std::uint64_t serial = state.nextSerial++;
    state.liveSerials.insert(serial);
    state.listeners[static_cast<int>(type)].push_back(Listener{serial, std::move(callable)});
}

void Engine::UnregisterListener(MessageType type, Callable callable) {
    EngineState& state = State();
    auto found = state.listeners.find(static_cast<int>(type));
    if (found == state.listeners.end()) return;
    auto& list = found->second;
    auto match = std::find_if(list.begin(), list.end(),
                              [&](const Listener& l) { return l.callable.GetID() == callable.GetID(); });
    if (match == list.end()) return;
    state.liveSerials.erase(match->serial);
    list.erase(match);
}

void Engine::RelayMessage(std::shared_ptr<Message> message) {
    if (!message) return;
    State().relayed.push_back(std::move(message));
}

void Engine::ImmediateMessage(std::shared_ptr<Message> message) {
    if (!message) return;
    Deliver(message);
    const std::vector<System*> systems = State().systems;
    for (System* system : systems)
        system->HandleMessage(message);
}

std::uint64_t Callable::MakeID(const void* owner, const void* token, std::size_t tokenSize) {
    // Ids are handed out in order of first use, so distinct pairs never share one.
    static std::mutex mutex;
    static std::map<std::string, std::uint64_t>* ids = new std::map<std::string, std::uint64_t>;
    std::string key(sizeof(owner) + tokenSize, '\0');
    std::memcpy(key.data(), &owner, sizeof(owner));
    if (tokenSize != 0) std::memcpy(key.data() + sizeof(owner), token, tokenSize);
    std::lock_guard<std::mutex> lock(mutex);
    auto [entry, inserted] = ids->try_emplace(std::move(key), ids->size() + 1);
    (void)inserted;
    return entry->second;
}

System::System(const std::wstring& name) : mName(name) {}
System::~System() = default;
void System::HandleMessage(std::shared_ptr<Message>) {}
void System::TransmitQueue(std::shared_ptr<Message> message) {
    std::lock_guard<std::mutex> lock(mQueueMutex);
    mMessageQueue.push(std::move(message));
}
void System::Update(float) {}
int System::Release() {
    return 0;
}
const std::wstring& System::GetName() const {
    return mName;
}
void System::Initialize() {}

namespace EngineTest {

std::size_t ListenerCount(MessageType type) {
    auto found = State().listeners.find(static_cast<int>(type));
    return found == State().listeners.end() ? 0 : found->second.size();
}

std::size_t PendingRelayedMessages() {
    return State().relayed.size();
}

} // namespace EngineTest
