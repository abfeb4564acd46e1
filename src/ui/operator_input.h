// What the operator can do to a panel. The Qt view calls these for real input;
// tests call them to operate controls headless. They run on the GUI thread,
// update the model and deliver the commit (or close) event to the callback.
//
// Input is refused (false) while a modal message is up, on a dimmed or hidden
// control, or on a control of a kind the operator cannot operate that way.
#pragma once

#include <string_view>

namespace ostrel::ui {

bool operatorSelectRingItem(int panel, int control, int index);
// Command button: commit. Toggle button: flips its value, then commit.
bool operatorPressButton(int panel, int control);
bool operatorSetSwitch(int panel, int control, int value);
// Text field: the new text is stored; text fields have no commit callback here.
bool operatorEditText(int panel, int control, std::string_view text);
// The window's close button: the close event goes to the panel callback.
bool operatorClosePanel(int panel);

// Modal messages in progress; operator input is refused while above 0.
void enterModal();
void leaveModal();
bool modalActive();

}  // namespace ostrel::ui
