#include "usb/program_name.h"

namespace ostrel {

namespace {

// Set once by main before other threads exist; read afterwards. Never destroyed.
std::string &name() {
    static std::string *const instance = new std::string("ostrel");
    return *instance;
}

}  // namespace

const std::string &usbProgramName() {
    return name();
}

void setUsbProgramName(std::string program) {
    name() = std::move(program);
}

}  // namespace ostrel
