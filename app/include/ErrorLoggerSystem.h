// The first system: it keeps the "ErrorLogger" place in the loop and does nothing else.
#pragma once

#include <System.h>

class ErrorLoggerSystem : public System {
public:
    explicit ErrorLoggerSystem(const std::wstring& name) : System(name) {}

    void HandleMessage(std::shared_ptr<Message> message) override;
    void Update(float dt) override;
    int Release() override;
    void Initialize() override;
};
