// The program's outermost lifecycle: load the main panel, lay it out for the
// default telemetry type, run the event loop until the panel closes.
#pragma once

namespace ostrel {

// Loads the main panel, prepares it, shows it centred and runs the event loop
// until the panel's close event; then discards the panel. Main thread.
void runMainPanel();

// Puts the freshly loaded panel and the program state into their idle form.
void startPanel();

// The panel's callback: on the close event ends the event loop.
int panelCB(int panel, int event, void *callbackData, int eventData1, int eventData2);

// Attaches the callbacks of the panel and its controls.
void attachCallbacks(int panel);

}  // namespace ostrel
