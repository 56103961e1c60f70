#include "FloodWarning.h"

namespace {

std::vector<FloodWarningCall>& Queue() {
    static std::vector<FloodWarningCall> queue;
    return queue;
}

} // namespace

void DrawFloodWarning(float width, float left, float top, const std::string& text) {
    Queue().push_back(FloodWarningCall{width, left, top, text});
}

void BeginFloodWarningFrame() {
    Queue().clear();
}

std::vector<FloodWarningCall> TakeFloodWarnings() {
    std::vector<FloodWarningCall> calls;
    calls.swap(Queue());
    return calls;
}
