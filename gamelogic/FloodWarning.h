// The flood warning is drawn by the graphics system's GUI pass, but the game rules ask for it from
// their own update, which runs outside the GUI frame. The calls are therefore recorded here, and the
// GUI pass draws them inside its frame. Game thread only.
#pragma once

#include <string>
#include <vector>

struct FloodWarningCall {
    float width;
    float left;
    float top;
    std::string text;
};

// The player's viewport width, left and top in pixels, and the warning's text.
void DrawFloodWarning(float width, float left, float top, const std::string& text);

// Called at the start of the game rules' update: calls that no GUI pass drew are from an earlier
// frame, so only one frame's calls are ever kept.
void BeginFloodWarningFrame();
// This frame's calls, in order, for the GUI pass to draw; the queue is left empty.
std::vector<FloodWarningCall> TakeFloodWarnings();
