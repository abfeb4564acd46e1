// What the operator can do to a panel. The Qt view calls these for real input;
// tests call them to operate controls headless. They run on the GUI thread,
// update the model and deliver the commit (or close) event to the callback.
//
// Input is refused (false) while a modal message is up or input is held off
// (a GUI-thread wait for a worker), on a dimmed or hidden control, or on a
// control of a kind the operator cannot operate that way. Refused input is not
// queued: the view shows the model's state again.
#pragma once

#include <string_view>

namespace ostrel::ui {

// Selects the model's item at `index` (headless tests see the model itself).
bool operatorSelectRingItem(int panel, int control, int index);
// The view's selection: the item the operator saw at `index`, with label
// `seenLabel`. When the model's ring has changed under the view, the item with
// that label is selected; when the ring no longer lists it, the input is refused.
bool operatorSelectRingItem(int panel, int control, int index, std::string_view seenLabel);
// Command button: commit. Toggle button: flips its value, then commit.
bool operatorPressButton(int panel, int control);
bool operatorSetSwitch(int panel, int control, int value);
// Text field: the new text is stored; text fields have no commit callback here.
bool operatorEditText(int panel, int control, std::string_view text);
// The window's close button: the close event goes to the panel callback. A close
// while input is held (a modal message, a GUI-thread wait) is remembered and
// delivered from the event loop once the hold has ended: it returns false then.
bool operatorClosePanel(int panel);
// A panel key (KEY_ codes): the key press event goes to the panel callback. Refused while
// input is held: a key is an instant's action, and carried out later it would mark the wrong
// instant.
bool operatorPressKey(int panel, int key);
// Closes remembered during a hold and not yet delivered.
int rememberedCloseCount();

// Modal messages in progress and input holds; operator input is refused while above 0.
void enterModal();
void leaveModal();
bool modalActive();

// Holds operator input off for its lifetime (nests).
class InputHold {
  public:
    InputHold() { enterModal(); }
    ~InputHold() { leaveModal(); }
    InputHold(const InputHold &) = delete;
    InputHold &operator=(const InputHold &) = delete;
};

// Spans a whole GUI-thread wait for a worker, so that input stays held between its passes
// of serveMessages and what was remembered meanwhile is delivered once, after the wait.
// Holds nothing on any other thread.
class GuiWait {
  public:
    GuiWait();
    ~GuiWait();
    GuiWait(const GuiWait &) = delete;
    GuiWait &operator=(const GuiWait &) = delete;

  private:
    bool holding_;
};

}  // namespace ostrel::ui
