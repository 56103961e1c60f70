// Test controls of the engine library: only tests include this.
#pragma once

#include "MessageType.h"

#include <cstddef>
#include <string>
#include <vector>

namespace EngineTest {

// The folder that "..\..\Resources\" stands for (default "../../Resources", relative to the working
// directory).
void SetResourceRoot(const std::string& root);

// While capturing, every console line of the engine is also kept for TakeLog.
void CaptureLog(bool capture);
std::vector<std::string> TakeLog();

std::size_t ListenerCount(MessageType type);
std::size_t PendingRelayedMessages();

} // namespace EngineTest
