// Error reports of the graphics side: an ErrorMessage from "Error Message", delivered at once to the
// window system, which shows it (and ends the process on a fatal one).
#pragma once

#include <string>

void SendGraphicsError(const std::string& text, bool fatal, const char* function, const char* file, int line);
