// The game's entry point. The command line is not read.
#include "AddSystems.h"

#include <Engine.h>

int main() {
    AddSystems();
    Engine::Initialize();
    Engine::GameLoop();
    return Engine::Release();
}
