// What the user's presses do, decided from the shared state (the window performs the result).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/auto_mode.h"

enum class MainButtonStep {
    Nothing,         // checking, downloading, or the bot still runs: the press is ignored
    LaunchBot,       // up to date or updated: start the bot and close the window
    ConfirmInstall,  // an update is offered and the bot is closed: let the worker install
    Retry,           // the pass failed: start a new one
};

MainButtonStep DecideMainButton(int32_t phase, bool botRunning);
// Copies the phase and botRunning under the lock and decides on the copy.
MainButtonStep ReadMainButtonStep();

// The shared phase, copied under the lock.
int32_t ReadPhase();

// A close request is refused while files are being replaced, so that no file is left half done.
bool CanClose();

// What the window's actions do beyond the shared state. The window binds them to the
// platform; the order in which they run is decided here.
struct WindowSteps {
    std::function<void()> releaseFolder;  // hands the installation folder's lock back
    std::function<void()> launchBot;
    std::function<void()> closeWindow;
    std::function<void()> startPass;
};

// The main button or Enter: the step of ReadMainButtonStep, carried out.
void RunMainButton(const WindowSteps& steps);
// The auto-mode rules' step of this tick, carried out (auto mode ends with the launch).
void RunAutoModeStep(AutoModeStep step, const WindowSteps& steps);
