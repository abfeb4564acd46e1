#pragma once

#include <memory>
#include <optional>
#include <string>

#include "usb/module_library.h"

namespace ostrel {

// The source of modules chosen for a value of OSTREL_MODULE_LIBRARY, and why a named library
// could not be used.
struct ModuleLibrarySelection {
    std::shared_ptr<ModuleLibrary> library;  // never null
    std::optional<std::string> problem;      // set when a named library is unusable
};

// The source of modules when no module library is named: a function giving a source that
// lives until the process ends. The simulated modules register theirs when they are linked
// in; without one there are no modules. Takes effect for a selection made after it.
using BuiltInModuleLibrary = ModuleLibrary &(*)();
void setBuiltInModuleLibrary(BuiltInModuleLibrary source);

// Null or empty: the built-in modules (none when none are registered). Otherwise the shared library
// at that path with its ten operations resolved, or, when it cannot be loaded or lacks an
// operation, a source with no modules and the reason.
ModuleLibrarySelection selectModuleLibrary(const char *libraryPath);

// Loads the shared library at `path`; on failure returns null and sets `problem`.
std::unique_ptr<ModuleLibrary> loadModuleLibrary(const std::string &path, std::string &problem);

// A source without modules: the list is empty, every other operation fails with
// kUsbErrorNoLibrary.
std::unique_ptr<ModuleLibrary> makeEmptyModuleLibrary();

}  // namespace ostrel
