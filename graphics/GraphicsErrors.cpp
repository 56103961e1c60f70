#include "GraphicsErrors.h"

#include <Engine.h>
#include <Messages.h>

void SendGraphicsError(const std::string& text, bool fatal, const char* function, const char* file,
                       int line) {
    Engine::ImmediateMessage(
        std::make_shared<ErrorMessage>(L"Error Message", text, fatal, function, file, line));
}
