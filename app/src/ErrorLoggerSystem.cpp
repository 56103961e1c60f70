#include "ErrorLoggerSystem.h"

void ErrorLoggerSystem::HandleMessage(std::shared_ptr<Message>) {}
void ErrorLoggerSystem::Update(float) {}
int ErrorLoggerSystem::Release() {
    return 0;
}
void ErrorLoggerSystem::Initialize() {}
