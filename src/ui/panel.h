// Panel operations: the program's only way to the user interface.
//
// Every operation may be called from any thread (main, acquisition, timer);
// none waits for the GUI thread, except showMessage, which blocks its caller
// until the operator acknowledges it. Operations on a discarded or unknown
// panel do nothing and return UI_NO_PANEL, so a late timer tick cannot touch
// a panel that is gone. Results are UI_OK (0) or a negative UI_* code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/panel_types.h"

namespace ostrel::ui {

// --- Panel lifecycle -------------------------------------------------------
int loadPanel(const PanelDescription &description);  // returns a handle > 0
int discardPanel(int panel);
int displayPanel(int panel);
int installPanelCallback(int panel, PanelCallback callback, void *callbackData);
int installControlCallback(int panel, int control, ControlCallback callback, void *callbackData);

// --- Values ----------------------------------------------------------------
// An integer ring selects its first item with that value; a text ring, text.
int setValue(int panel, int control, int value);
int setValue(int panel, int control, std::string_view text);
int getValue(int panel, int control, int *value);
int getValue(int panel, int control, std::string *text);

// --- Rings -----------------------------------------------------------------
int getRingIndex(int panel, int control, int *index);  // -1 when empty
int setRingIndex(int panel, int control, int index);
// Deletes every item. A ring remembers the label it had selected: when an item
// with that label is inserted again, it becomes the selection once more.
int clearRing(int panel, int control);
// Inserts at `position` (-1 or the item count: at the end).
int insertRingItem(int panel, int control, int position, std::string_view label,
                   const Value &value);
int getRingItemCount(int panel, int control, int *count);
// The label of item `index`; UI_BAD_INDEX when the ring has no such item.
int getRingItemLabel(int panel, int control, int index, std::string *label);
// Replaces every item in one step, so no reader sees a half-filled ring. The
// selected label stays selected when the new items still list it; otherwise the
// first item is selected and the old label is remembered as after clearRing.
int replaceRingItems(int panel, int control, std::vector<RingItem> items);

// --- Control attributes ----------------------------------------------------
int setVisible(int panel, int control, bool visible);
int setDimmed(int panel, int control, bool dimmed);
int setLabel(int panel, int control, std::string_view label);
int getTop(int panel, int control, int *top);
int setTop(int panel, int control, int top);  // the label moves along

// --- Panel attributes ------------------------------------------------------
int getPanelHeight(int panel, int *height);
int setPanelHeight(int panel, int height);
int setPanelTop(int panel, int top);  // AUTO_CENTER centres the panel
int setPanelLeft(int panel, int left);

// --- Strip charts ----------------------------------------------------------
int plotPoint(int panel, int control, float y);
// Places marker `number` at the chart's newest point (x = the points plotted so
// far). It scrolls out with that point; a chart keeps CHART_MARKERS_KEPT at most.
int addChartMarker(int panel, int control, int number);
int setYAxisRange(int panel, int control, double min, double max);

// --- Cursor, dialogs, event loop ----------------------------------------------
void setBusyCursor(bool busy);
// Modal message; returns when the operator has acknowledged it.
void showMessage(std::string_view title, std::string_view text);
// A notice shown as a message by the GUI thread; returns at once (for threads
// that must not stall, such as the acquisition thread).
void postMessage(std::string_view title, std::string_view text);
// Modal directory dialog: 1 and the path when one was chosen, 0 on cancel.
int selectDirectory(std::string_view title, std::string *path);
int runEventLoop();  // returns the status given to quitEventLoop
// For every GUI-thread wait for a worker, on every pass: shows the messages
// other threads wait for and keeps the view current, with operator input held
// off meanwhile (neither applied nor queued for later).
// Does nothing on any other thread than the GUI thread.
void serveMessages();
void quitEventLoop(int status);

}  // namespace ostrel::ui
