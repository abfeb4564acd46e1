// Qt wants a private runtime directory in XDG_RUNTIME_DIR and warns on stderr without one.
// Sessions without it (su, sudo, some remote sessions, a container) get one of their own
// here, as run.sh gives them: <TMPDIR or /tmp>/runtime-<uid>, mode 0700, owned by the user,
// or, when that name is taken by someone else, by anything but a directory, or is open to
// others, a fresh directory beside it made by mkdtemp.
#pragma once

#include <string>

namespace ostrel {

// The private runtime directory in `base`: runtime-<uid> when it can be made or is already
// the user's directory with mode 0700, else a fresh runtime-<uid>-XXXXXX. "" when neither can
// be made.
std::string privateRuntimeDirectoryIn(const std::string &base);

// Sets XDG_RUNTIME_DIR to a private runtime directory (in TMPDIR, else /tmp) when it is unset
// or empty; leaves a set one alone. Main thread, before the QApplication is created (the
// environment is not changed while other threads run). Returns the directory set, else "".
std::string providePrivateRuntimeDirectory();

}  // namespace ostrel
