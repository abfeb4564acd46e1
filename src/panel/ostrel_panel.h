// The main panel of Ostrel: its control identifiers, the channel display table
// and the description the panel is loaded from.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "ui/panel_types.h"

namespace ostrel {

// Resource number of the main panel in its description.
inline constexpr int PANEL = 1;

inline constexpr int CHART_SLIDE_2 = 2;
inline constexpr int CHART_SLIDE_1 = 3;
inline constexpr int SPEED_SLIDE = 4;
inline constexpr int CH_SLIDE = 5;
inline constexpr int timebase = 6;
inline constexpr int channel_1 = 7;
inline constexpr int channel_2 = 8;
inline constexpr int channel_10 = 9;
inline constexpr int channel_9 = 10;
inline constexpr int channel_8 = 11;
inline constexpr int channel_7 = 12;
inline constexpr int channel_3 = 13;
inline constexpr int channel_4 = 14;
inline constexpr int channel_5 = 15;
inline constexpr int channel_6 = 16;
// channel_11 .. channel_32 are identifiers 17 .. 38 (channel n is n + 6).
inline constexpr int channel_11 = 17;
inline constexpr int channel_32 = 38;
inline constexpr int usbinterface = 39;
inline constexpr int meas_start_stop = 40;
inline constexpr int TEXTMSG = 41;
inline constexpr int PICTURE = 42;
inline constexpr int CHART_2 = 43;
inline constexpr int CHART = 44;
inline constexpr int LOGPATH = 45;
inline constexpr int LOGPATHBUTTON = 46;
inline constexpr int LOG_STATE = 47;
inline constexpr int CHARTSSWITCH = 48;
inline constexpr int FILE_SEP = 49;

inline constexpr int CHANNEL_DISPLAYS = 32;

// Control identifiers of the channel displays in channel order: entry k is the
// display of channel k + 1 (or of steering slot k).
inline constexpr std::array<int, CHANNEL_DISPLAYS> panel_rings = {
    7,  8,  13, 14, 15, 16, 12, 11, 10, 9,  17, 18, 19, 20, 21, 22,
    23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38};

// File name of the panel description and the panel title.
inline constexpr const char *ui_file = "Ostrel.ui";
inline constexpr const char *PANEL_TITLE = "Ostrel V1.3.1";
inline constexpr int PANEL_WIDTH = 836;
// Height of the panel without channel rows and without the chart area.
inline constexpr int panel_height = 230;
// Each visible channel display adds this much height to the panel.
inline constexpr int CHANNEL_ROW_SHARE = 6;

// Handle of the loaded main panel; 0 before it is loaded and after it is discarded.
inline std::atomic<int> panelHandle{0};

// The default log directory: the user's home directory.
std::string defaultLogDirectory();

// The description of the main panel with its 48 controls as they are at load.
ui::PanelDescription mainPanelDescription();

}  // namespace ostrel
