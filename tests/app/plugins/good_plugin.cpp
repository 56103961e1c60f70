// A plug-in system that announces its start, so tests see where the engine placed it.
#include <Engine.h>
#include <Messages.h>
#include <System.h>

namespace {

class TestPluginSystem : public System {
public:
    TestPluginSystem() : System(L"TestPlugin") {}
    void Initialize() override {
        Engine::RelayMessage(std::make_shared<GameEventMessage>(mName, "TestPlugin initialised", 0));
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) System* ExpSystem() {
    return new TestPluginSystem;
}
