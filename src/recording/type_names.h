// Telemetry types by name, as the command-line programs take them: the type ring's texts
// (" 8 Channel", "Steering Module 200 Nm"; any case, blanks at the ends ignored) and the
// short names 4ch, 8ch, 16ch, 32ch, steer-car-100, steer-car-200, steer-com-100,
// steer-com-200, steer-mod-100, steer-mod-200 (types 0..9). Pure; any thread.
#pragma once

#include <optional>
#include <string_view>

namespace ostrel::recording {

// The telemetry type (0..9) named by `name`; nullopt for any other text.
std::optional<int> telemetryTypeFromName(std::string_view name);

// The type ring's text of `type` without its leading blank ("8 Channel"); empty for an
// unknown type.
std::string_view typeLabel(int type);

// The short name of `type` ("8ch", "steer-com-200"); empty for an unknown type.
std::string_view shortTypeName(int type);

}  // namespace ostrel::recording
