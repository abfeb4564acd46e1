// Under a locale whose decimal point is ',' (Qt sets the process locale from the desktop's),
// every number the program shows or writes still has '.': the channel displays, the diagram
// time base, ostrel-record's progress line, and the log header, description and converter
// CSV.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/recorder.h"
#include "display/charts.h"
#include "display/live_values.h"
#include "logging/log_header.h"
#include "panel/ostrel_panel.h"
#include "recording/conversion.h"
#include "recording/recording_description.h"
#include "telemetry/selections.h"
#include "ui/headless.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

class DecimalCommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
            GTEST_SKIP() << "the locale de_DE.UTF-8 is not installed";
        }
        char probe[8];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        ASSERT_STREQ(probe, "0,5") << "printf follows the locale";
    }
    void TearDown() override { std::setlocale(LC_ALL, previous_.c_str()); }

  private:
    std::string previous_;
};

TEST_F(DecimalCommaLocale, TheChannelDisplaysAndTheTimeBaseShowADecimalPoint) {
    EXPECT_EQ(percentText(50.04f).view(), "  50.04 %");
    EXPECT_EQ(channelText(0x0000).view(), "-100.00 %");
    FrameWords frame{};
    frame.fill(0xFFFF);
    EXPECT_EQ(steeringTexts(0, frame).texts[0].view(), "  10.00 Nm");
    EXPECT_EQ(steeringTexts(0, frame).texts[2].view(), "  100.00 \xC2\xB0");

    ui::headlessFrontend()->reset();
    panelHandle = ui::loadPanel(mainPanelDescription());
    block_speed_factor = 8;
    change_time();
    EXPECT_EQ(ui::controlState(panelHandle, timebase)->text(), " 163.20 ms");
    ui::discardPanel(panelHandle.exchange(0));
}

TEST_F(DecimalCommaLocale, TheProgressLineLogHeaderDescriptionAndCsvWriteADecimalPoint) {
    EXPECT_EQ(record::progressLine(65.2, 12, 3'100'000), "00:01:05  12 cycles  3.1 MB  0.05 MB/s");
    EXPECT_EQ(logHeader(0, 159.375, ','), "Time-Base: 159.38us,,,\r\nCh1,Ch2,Ch3,Ch4\r\n");

    recording::RecordingDescription description;
    description.timeBaseMicros = 159.375;
    EXPECT_NE(recording::describeAsJson(description).find("\"time_base_us\": 159.375,"),
              std::string::npos);

    recording::RecordingHeader header;
    header.timeBaseMicros = 159.38;
    header.columns = {"Ch1", "Ch2", "Ch3", "Ch4"};
    std::string error;
    const std::optional<recording::Conversion> conversion =
        recording::Conversion::create(0, recording::Units::percent, header, error);
    ASSERT_TRUE(conversion) << error;
    std::vector<char> row(conversion->maxRowBytes());
    const std::vector<uint16_t> words = {0x0000, 0xFFF0, 0x8000, 0x7FF0};
    EXPECT_EQ(std::string(row.data(), conversion->formatRow(row.data(), 3, words.data())),
              "0.000478,-100,100,0.024420025,-0.024420025\n");
}

}  // namespace
}  // namespace ostrel
