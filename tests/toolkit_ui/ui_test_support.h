// Shared helpers of the toolkit_ui tests: offscreen Qt, a recording message-box hook, event
// pumping with a deadline, and pictures written to a temporary folder.
#pragma once

#include "toolkit/ui/Application.h"

#include <functional>
#include <string>
#include <vector>

namespace uitest {

// Starts the application object (offscreen unless the environment chose a platform).
void ensureApplication();

// Records every message box instead of showing it, for the lifetime of the object.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    std::vector<TMessageBoxRequest> Boxes;

private:
    TMessageBoxHook FPrevious;
};

// Processes events until Done() is true or the time runs out; returns Done().
bool pumpUntil(const std::function<bool()>& Done, int TimeoutMs = 3000);

// A folder holding small test pictures: "red16.svg" (16x16 red square), "blue70.svg"
// (70x70 blue), "green8.png" (8x8 green), registered as a picture search path.
const std::string& pictureFolder();

} // namespace uitest
