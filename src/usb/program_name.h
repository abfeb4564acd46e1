// The name that begins the module library's messages on stderr ("ostrel: OSTREL_SIM is
// malformed ..."): the program's own, set by its main before the first module call.
#pragma once

#include <string>

namespace ostrel {

// "ostrel" unless set.
const std::string &usbProgramName();
// Main thread, before any module library call.
void setUsbProgramName(std::string name);

}  // namespace ostrel
