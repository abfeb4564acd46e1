// The program's outermost lifecycle: load the main panel, lay it out for the
// default telemetry type, run the event loop until the panel closes.
#pragma once

#include <optional>
#include <string>

#include "app/replay.h"

namespace ostrel {

// What the command line asks of the start: a recording to play back, or a problem to tell
// once the window shows.
struct StartupRequest {
    std::optional<ReplaySetup> replay;
    std::optional<std::string> problem;
    std::optional<std::string> notice;  // told once the window is up (a replay's warning)
};

// Loads the main panel, prepares it, shows it centred and runs the event loop
// until the panel's close event; then discards the panel. Main thread.
void runMainPanel(const StartupRequest &request = {});

// Discards the main panel, then every timer still scheduled. Main thread.
void discardMainPanel();

// Puts the freshly loaded panel and the program state into their idle form.
void startPanel();

// The panel's callback: on the close event ends the event loop.
int panelCB(int panel, int event, void *callbackData, int eventData1, int eventData2);

// Tells the operator, once, when the module library named by
// OSTREL_MODULE_LIBRARY cannot be used (the program then lists no modules).
void reportModuleLibraryProblem();

// Attaches the callbacks of the panel and its controls.
void attachCallbacks(int panel);

}  // namespace ostrel
