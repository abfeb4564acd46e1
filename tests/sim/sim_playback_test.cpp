// Playback modules: a recording streamed back word for word, its end, its repetition, and
// files that are not recordings.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "../recording/recording_test_support.h"
#include "sim/playback.h"
#include "sim/playback_stream.h"
#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

namespace fs = std::filesystem;

// A temporary directory removed with the fixture.
class Playback : public ::testing::Test {
  protected:
    // A log file of `frames` frames of `words` words; word w of frame f is (f * 37 + w) << 4.
    std::string writeRecording(const std::string &name, int words, uint64_t frames,
                               const std::string &timeBase = "637.50") {
        const fs::path path = directory / name;
        std::ofstream out(path, std::ios::binary);
        out << "Time-Base: " << timeBase << "us" << std::string(words - 1, ',') << "\r\n";
        for (int w = 0; w < words; ++w) out << (w ? "," : "") << "Ch" << w + 1;
        out << "\r\n";
        for (uint64_t f = 0; f < frames; ++f) {
            for (int w = 0; w < words; ++w) out << (w ? "," : "") << recordedWord(f, w);
            out << "\r\n";
        }
        return path.string();
    }
    static uint16_t recordedWord(uint64_t frame, int word) {
        return static_cast<uint16_t>(((frame * 37 + uint64_t(word)) % 4096) << 4);
    }
    static std::vector<uint16_t> wordsOf(const Block &block) {
        std::vector<uint16_t> words(kBlockBytes / 2);
        for (size_t k = 0; k < words.size(); ++k)
            words[k] = uint16_t(block[2 * k] | block[2 * k + 1] << 8);
        return words;
    }
    static ModuleConfig playbackModule(const std::string &path, const std::string &extra = "") {
        ModuleConfig config = simModule("PLAY:file=" + path + extra);
        EXPECT_EQ(preparePlayback(config), std::nullopt);
        return config;
    }

    const ostrel::test::ScratchDirectory scratch{"ostrel-playback"};
    const fs::path directory = scratch.path();
};

TEST_F(Playback, StreamsTheRecordedWordsFromTheFirstFrameThenEnds) {
    // 1024 frames of 8 words: exactly 4 blocks; then a record cut short (the recorder was
    // killed while writing it), which is left out and told.
    const std::string path = writeRecording("rec.dat", 8, 1024);
    std::ofstream(path, std::ios::binary | std::ios::app) << "1,2,3";
    const LoadedPlayback loaded = loadPlayback(path);
    ASSERT_NE(loaded.recording, nullptr) << loaded.error;
    EXPECT_EQ(loaded.recording->frames, 1024u);
    EXPECT_NE(loaded.warning.find(path + ": line 1027: the file ends inside this record"),
              std::string::npos)
        << loaded.warning;
    EXPECT_NE(loaded.warning.find("the 1024 whole records before it are played"), std::string::npos)
        << loaded.warning;
    ::testing::internal::CaptureStderr();
    const ModuleConfig config = playbackModule(path, ",pace=fast");
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(config.wordsPerFrame, 8);
    EXPECT_EQ(config.kbps, 160);  // from the time base: 8 words in 637.5 us

    SteppingRig rig(100us);
    rig.attach(config);
    Block warmUp{};  // the receiver's reads before the run bits do not move the recording on
    uint32_t length = 512;
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, warmUp.data(), &length), 0);
    rig.writePort(kRunBits);
    std::vector<Block> blocks(6);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    for (size_t k = 0; k < 4; ++k) {
        ASSERT_EQ(rig.wait(ids[k]), kUsbErrorNone) << k;
        const std::vector<uint16_t> words = wordsOf(blocks[k]);
        for (size_t i = 0; i < words.size(); ++i) {
            const uint64_t word = k * words.size() + i;
            ASSERT_EQ(words[i], recordedWord(word / 8, int(word % 8))) << k << ":" << i;
        }
    }
    EXPECT_EQ(rig.wait(ids[4]), kUsbErrorEndOfStream);
    EXPECT_EQ(rig.wait(ids[5]), kUsbErrorEndOfStream);
    EXPECT_EQ(blocks[4], Block{});
}

// (The end of a recording played once: StreamsTheRecordedWordsFromTheFirstFrameThenEnds.)
TEST_F(Playback, LoopRepeats) {
    const std::string path = writeRecording("rec.dat", 32, 256);  // 4 blocks of 32 words
    SteppingRig rig(100us);
    rig.attach(playbackModule(path, ",loop=1,pace=fast"));
    rig.writePort(kRunBits);
    std::vector<Block> blocks(9);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    for (size_t k = 0; k < blocks.size(); ++k) ASSERT_EQ(rig.wait(ids[k]), kUsbErrorNone) << k;
    EXPECT_EQ(blocks[4], blocks[0]);
    EXPECT_EQ(blocks[8], blocks[0]);
    EXPECT_NE(blocks[1], blocks[0]);
}

TEST_F(Playback, ARestartedStreamPlaysFromTheStartAgain) {
    const std::string path = writeRecording("rec.dat", 16, 512);
    SteppingRig rig(100us);
    rig.attach(playbackModule(path, ",pace=fast"));
    Block first{}, again{};
    rig.writePort(kRunBits);
    ASSERT_EQ(rig.wait(rig.queue(first.data())), kUsbErrorNone);
    ASSERT_EQ(rig.wait(rig.queue(again.data())), kUsbErrorNone);
    rig.writePort(0);
    rig.writePort(kRunBits);
    ASSERT_EQ(rig.wait(rig.queue(again.data())), kUsbErrorNone);
    EXPECT_EQ(again, first);
}

// (The reader's own refusals, a foreign or missing file among them: ReaderTest, ConvertCommand.)
TEST_F(Playback, FilesThatCannotBePlayedBackAreToldWithFileAndLine) {
    const std::string good = writeRecording("good.dat", 8, 4);
    const fs::path shortRecord = directory / "short.dat";
    std::ofstream(shortRecord, std::ios::binary)
        << "Time-Base: 318.75us,,,\r\nCh1,Ch2,Ch3,Ch4\r\n1,2,3,4\r\n3,4\r\n5,6,7,8\r\n";
    const fs::path sixColumns = directory / "six.dat";
    std::ofstream(sixColumns, std::ios::binary)
        << "Time-Base: 1.00us,,,,,\r\na,b,c,d,e,f\r\n1,2,3,4,5,6\r\n";
    const std::string empty = writeRecording("empty.dat", 8, 0);

    const struct {
        std::string path;
        std::string expected;
    } rows[] = {
        {shortRecord.string(), ": line 4"},
        {sixColumns.string(), "expected 4, 8, 16 or 32 columns"},
        {empty, "holds no records"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        const LoadedPlayback loaded = loadPlayback(row.path);
        EXPECT_EQ(loaded.recording, nullptr);
        EXPECT_NE(loaded.error.find(row.path), std::string::npos) << loaded.error;
        EXPECT_NE(loaded.error.find(row.expected), std::string::npos) << loaded.error;
    }
    EXPECT_NE(loadPlayback(good).recording, nullptr);

    // OSTREL_SIM leaves such a module out and keeps the others.
    const std::vector<ModuleConfig> modules = modulesFromEnvironment(
        ("BAD:file=" + shortRecord.string() + ";GOOD:file=" + good + ";SIM").c_str());
    ASSERT_EQ(modules.size(), 2u);
    EXPECT_EQ(modules[0].name, "GOOD");
    ASSERT_TRUE(modules[0].playback && modules[0].playback->recording);
    EXPECT_EQ(modules[0].playback->recording->frames, 4u);
}

TEST_F(Playback, TheDescriptionGivesSpeedAndTypeAndAMismatchFallsBackToTheTimeBase) {
    const std::string path = writeRecording("jex-log-1.dat", 32, 64, "637.50");
    std::ofstream(directory / "jex-log-1.json")
        << R"({"program":"Ostrel","version":"1.3.1","log_file":"jex-log-1.dat","module":"M",)"
        << R"("telemetry_type":{"index":5,"text":"Steering Personal Car 200 Nm"},)"
        << R"("speed_kbps":640,"time_base_us":637.5,"channel_count":32,"separator":"comma",)"
        << R"("columns":[],"start":"2026-12-07T09:30:00+00:00","stop":null,"cycles":0,)"
        << R"("ended":"running"})";
    LoadedPlayback loaded = loadPlayback(path);
    ASSERT_NE(loaded.recording, nullptr) << loaded.error;
    EXPECT_EQ(loaded.recording->kbps, 640);
    EXPECT_EQ(loaded.recording->typeIndex, std::optional<int>(5));
    // It counts no cycle where the file holds 64 records (killed before it caught up): the
    // file is played, and told.
    EXPECT_NE(loaded.warning.find("counts 0 cycles (0 records), the log file holds 64 records"),
              std::string::npos)
        << loaded.warning;

    std::ofstream(directory / "jex-log-1.json") << "{broken";
    loaded = loadPlayback(path);
    ASSERT_NE(loaded.recording, nullptr) << loaded.error;
    EXPECT_EQ(loaded.recording->kbps, 640);  // 32 words in 637.5 us
    EXPECT_EQ(loaded.recording->typeIndex, std::nullopt);
    EXPECT_NE(loaded.warning.find("jex-log-1.json"), std::string::npos);
}

// Neither waits for a writer: a FIFO as the recording leaves the module out with a message
// naming it; a FIFO as the description is a description that cannot be used (told, and the
// speed comes from the time base).
TEST_F(Playback, AFifoIsRefusedAtOnceNotWaitedFor) {
    const std::string fifo = (directory / "jex-log-2.dat").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<ModuleConfig> modules;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(recording::test::returnsAtOnce(
        fifo, [&] { modules = modulesFromEnvironment(("FIFO:file=" + fifo + ";SIM").c_str()); }));
    const std::string told = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].name, "SIM");
    EXPECT_NE(told.find("\"FIFO\" can't play back: " + fifo + ": not a regular file"),
              std::string::npos)
        << told;

    const std::string path = writeRecording("jex-log-3.dat", 8, 4);
    const std::string description = (directory / "jex-log-3.json").string();
    ASSERT_EQ(::mkfifo(description.c_str(), 0600), 0);
    LoadedPlayback loaded;
    EXPECT_TRUE(recording::test::returnsAtOnce(description, [&] { loaded = loadPlayback(path); }));
    ASSERT_NE(loaded.recording, nullptr) << loaded.error;
    EXPECT_EQ(loaded.recording->kbps, 160);
    EXPECT_NE(loaded.warning.find(description + ": not a regular file"), std::string::npos)
        << loaded.warning;
}

// A recording several times the read-ahead, read as a session reads it: pieces that end inside
// a frame, across the read-ahead's refills, round the end of the period, and back to an
// earlier frame. Every word is the file's, and the words held never exceed the read-ahead.
TEST_F(Playback, StreamsAFileLargerThanItsReadAheadInBoundedMemory) {
    constexpr int kWords = 8;
    const uint64_t frames = 5 * PlaybackStream::kReadAheadWords / kWords + 3;
    const std::string path = writeRecording("long.dat", kWords, frames);
    const ModuleConfig config = playbackModule(path);
    ASSERT_EQ(config.playback->recording->frames, frames);
    PlaybackStream stream(config.playback->recording);
    ASSERT_TRUE(stream.open());

    const auto expectWordsFrom = [&](uint64_t frame, std::size_t bytes) {
        std::vector<uint8_t> out(bytes);
        ASSERT_EQ(stream.copy(frame, out.data(), bytes), kUsbErrorNone);
        for (std::size_t b = 0; b < bytes; ++b) {
            const uint64_t word = frame * kWords + b / 2;
            const uint16_t expected = recordedWord(word / kWords % frames, int(word % kWords));
            ASSERT_EQ(out[b], b % 2 ? expected >> 8 : expected & 0xFF) << frame << "+" << b;
        }
    };
    for (uint64_t frame = 0; frame < frames + 200; frame += 333) expectWordsFrom(frame, 5333);
    expectWordsFrom(frames - 2, 3 * kWords * 2);  // round the end of the period
    expectWordsFrom(7, 100);                      // back before the read-ahead
    EXPECT_EQ(stream.error(), "");
    EXPECT_GT(stream.mostWordsHeld(), 0u);
    EXPECT_LE(stream.mostWordsHeld(), PlaybackStream::kReadAheadWords);
}

// The file changes under a loaded recording: cut short, the read that reaches the missing
// records fails (never frames of nothing); removed, the module no longer opens. Both are said.
TEST_F(Playback, ARecordingThatChangesAfterLoadingFailsItsReadsOrItsOpen) {
    const std::string path = writeRecording("rec.dat", 32, 256);
    const ModuleConfig config = playbackModule(path, ",pace=fast");
    {
        fs::resize_file(path, fs::file_size(path) / 2);
        SteppingRig rig(100us);
        rig.attach(config);
        rig.writePort(kRunBits);
        std::vector<Block> blocks(256 * 64 / kBlockBytes);  // the whole recording as loaded
        const std::vector<uint8_t> ids = rig.queueAll(blocks);
        ::testing::internal::CaptureStderr();
        std::vector<uint32_t> outcomes;
        for (const uint8_t id : ids) outcomes.push_back(rig.wait(id));
        const auto failed = std::find(outcomes.begin(), outcomes.end(), kUsbErrorTransferFailed);
        EXPECT_GT(failed - outcomes.begin(), 0);
        EXPECT_LT(failed - outcomes.begin(), std::ptrdiff_t(outcomes.size() / 2 + 1));
        EXPECT_TRUE(std::all_of(outcomes.begin(), failed, [](uint32_t e) { return e == 0; }));
        EXPECT_TRUE(std::all_of(failed, outcomes.end(),
                                [](uint32_t e) { return e == kUsbErrorTransferFailed; }));
        const std::string told = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(told.find("playback stopped: " + path), std::string::npos) << told;
    }
    fs::remove(path);
    SimulatedBus bus;
    ASSERT_TRUE(bus.plug(config));
    void *handle = nullptr;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(bus.UsbOpen(&handle, config.name.c_str()), 0);
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find(path), std::string::npos) << told;
}

TEST(PlaybackConfig, KeysAndNames) {
    const SimConfig config = parseSimConfig(
        "A:file=/r/x.dat,loop=1;B:file=/r/y.dat,loop;C:loop=1;D:file=/r/z.dat,words=8;"
        "E:file=;F:file=/r/x.dat,loop=2");
    ASSERT_EQ(config.modules.size(), 2u);
    EXPECT_EQ(config.modules[0].playback->file, "/r/x.dat");
    EXPECT_TRUE(config.modules[0].playback->loop);
    EXPECT_TRUE(config.modules[1].playback->loop);
    EXPECT_EQ(config.problems.size(), 4u);

    EXPECT_EQ(playbackModuleName("/home/u/jex-log-07122026093000.dat"),
              "jex-log-07122026093000.dat");
    EXPECT_EQ(playbackModuleName("/x/a,b=c:d\te"), "a_b_c_d_e");
    EXPECT_EQ(playbackModuleName(std::string(100, 'n')).size(), 64u);
    EXPECT_EQ(kbpsFromTimeBase(8, 637.5), 160);
    EXPECT_EQ(kbpsFromTimeBase(4, 1275.0), 40);
    EXPECT_EQ(kbpsFromTimeBase(8, 0.0), 0);
    EXPECT_EQ(kbpsFromTimeBase(8, -1.0), 0);

    // A playback module whose recording is not loaded cannot be plugged.
    SimulatedBus bus;
    EXPECT_FALSE(bus.plug(config.modules[0]));
}

}  // namespace
}  // namespace ostrel::sim::test
