// The description beside a recording: JSON written and read back (nlohmann, a reader of
// its own, accepts what is written), hostile JSON refused with its line, the description's path,
// the atomic replacement and the local time text.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "recording/json.h"
#include "recording/recording_description.h"
#include "recording_test_support.h"

namespace ostrel::recording {
namespace {

using test::ScratchDirectory;

// Its cycles are exact beyond a double's 53 bits.
RecordingDescription finished() {
    return {.programVersion = "1.3.1",
            .logFile = "jex-log-07122026093000.dat",
            .module = "SIM-STEER",
            .typeIndex = 7,
            .typeText = "Steering Commercial 200 Nm",
            .speedKbps = 640,
            .timeBaseMicros = 159.375,
            .channelCount = 3,
            .separator = '\t',
            .columns = {"Torque low", "Torque high", "-"},
            .startTime = "2026-12-07T09:30:00+01:00",
            .stopTime = "2026-12-07T09:31:12+01:00",
            .cycles = 18446744073709551615u,
            .ended = MeasurementEnd::transferError,
            .lostFrames = 12,
            .gaps = {{4096, 1}, {8192, 3}},
            .markers = {}};
}

RecordingDescription parsedOrFail(std::string_view json) {
    const ParsedDescription parsed = parseDescription(json);
    EXPECT_TRUE(parsed.description) << parsed.error << "\n" << json;
    return parsed.description.value_or(RecordingDescription{});
}

std::string errorOf(std::string_view json) {
    const ParsedDescription parsed = parseDescription(json);
    EXPECT_FALSE(parsed.description) << json;
    return parsed.error;
}

// Round trip ----------------------------------------------------------------------------------

// Descriptions read back as they were written; `written` are texts their JSON holds (the
// rest of the layout: DescriptionsWrittenSoFarAreRead).
TEST(DescriptionJson, WrittenDescriptionsReadBackEqual) {
    RecordingDescription running = finished();
    running.stopTime.clear();
    running.ended = MeasurementEnd::running;
    running.lostFrames.reset();
    running.separator = ',';
    running.gaps.clear();
    RecordingDescription awkward = finished();
    awkward.module = std::string("quote\" back\\slash\ttab\nline\x01\x1f del\x7f") +
                     std::string(1, '\0') + "after-nul";
    awkward.logFile = "jex-log-\xC3\xA4\xE2\x82\xAC.dat";  // UTF-8 passes as it is
    awkward.columns = {"", ",", "\"\""};
    RecordingDescription marked = finished();
    marked.markers = {{1, 4095, 0.32768, "2026-12-08T09:30:01.250+01:00", "curve, \"fast\"\xff"},
                      {2, 8191, 0.65528, "2026-12-08T09:30:02.000+01:00", ""}};
    const struct {
        const char *name;
        RecordingDescription description;
        std::vector<std::string> written;
    } cases[] = {
        {"finished",
         finished(),
         {"\n  \"gaps\": [{\"after_record\": 4096, \"cycles\": 1}, {\"after_record\": 8192, "
          "\"cycles\": 3}],\n  \"lost_frames\": 12\n}\n"}},
        {"running", running, {"\n  \"stop\": null,\n", "\"comma\"", "\n  \"gaps\": []\n}\n"}},
        {"markers",
         marked,
         {"\"cycles\": 3}],\n  \"markers\": [\n    {\"number\": 1, \"record\": 4095, \"time_s\": "
          "0.32768, \"wall_clock\": \"2026-12-08T09:30:01.250+01:00\", \"label\": \"curve, "
          "\\\"fast\\\"\\uf7ff\"},\n    {\"number\": 2,",
          "\"label\": \"\"}\n  ],\n  \"lost_frames\": 12\n}\n"}},
        {"awkward texts",
         awkward,
         {R"("quote\" back\\slash\ttab\nline\u0001\u001f del)", "\\u0000"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = describeAsJson(c.description);
        EXPECT_TRUE(nlohmann::json::accept(json)) << json;
        EXPECT_EQ(parsedOrFail(json), c.description) << json;
        for (const std::string &text : c.written)
            EXPECT_NE(json.find(text), std::string::npos) << text;
    }
}

// Each way a measurement ends under the name its description gives it (what a reader of the
// files goes by), read back as itself; another name is refused, naming them all.
TEST(DescriptionJson, EachEndIsDescribedByItsNameAndReadBack) {
    // In the order of MeasurementEnd.
    const std::string_view names[] = {"running",         "STOP",        "window closed",
                                      "transfer error",  "write error", "Ctrl-C",
                                      "end of playback", "not in sync", "not started",
                                      "ended by signal"};
    static_assert(std::size(names) == std::size_t(MeasurementEnd::signal) + 1);
    std::string known;
    for (std::size_t e = 0; e < std::size(names); ++e) {
        SCOPED_TRACE(names[e]);
        RecordingDescription d = finished();
        d.ended = MeasurementEnd(e);
        const std::string json = describeAsJson(d);
        EXPECT_NE(json.find("\n  \"ended\": \"" + std::string(names[e]) + "\",\n"),
                  std::string::npos)
            << json;
        EXPECT_EQ(parsedOrFail(json).ended, d.ended);
        known += (known.empty() ? "\"" : ", \"") + std::string(names[e]) + "\"";
    }
    std::string json = describeAsJson(finished());
    json.replace(json.find("\"transfer error\""), 16, "\"finished\"");
    EXPECT_EQ(errorOf(json), "line 15: \"ended\" must be one of " + known);
}

// Descriptions as they were written: one by ostrel-record of today (written again, it is the
// same text), one by a version before gaps were recorded, whose module name from a module
// library is Latin-1, copied as it was.
TEST(DescriptionJson, DescriptionsWrittenSoFarAreRead) {
    const std::string corpus = OSTREL_DESCRIPTION_CORPUS;
    const std::string today = test::readFile(corpus + "/written-by-1.3.1-steering");
    EXPECT_EQ(describeAsJson(parsedOrFail(today)), today);

    // Written today, the older one has its byte escaped and no gaps.
    const std::string older = test::readFile(corpus + "/written-before-gaps-latin1-module");
    std::string again = older;
    again.replace(again.find("Empf\xE4nger"), 9, "Empf\\uf7e4nger");
    again.insert(again.rfind("\n}\n"), ",\n  \"gaps\": []");
    EXPECT_EQ(describeAsJson(parsedOrFail(older)), again);
}

// Strings are bytes: bytes that are not valid UTF-8 are written as escapes of U+F780..U+F7FF
// and read back as the very bytes; valid UTF-8 stays as it is; a genuine U+F780..U+F7FF is
// escaped byte by byte, so it stays apart from an escaped byte.
TEST(DescriptionJson, BytesThatAreNotUtf8AreEscapedAndReadBackExactly) {
    const struct {
        std::string bytes;
        std::string written;
    } cases[] = {
        {"RX-\xFF\xFE", R"("RX-\uf7ff\uf7fe")"},
        {"\xC3", R"("\uf7c3")"},                                // cut short
        {"\xC3(", R"("\uf7c3(")"},                              // not continued
        {"\xC0\xAF", R"("\uf7c0\uf7af")"},                      // overlong '/'
        {"\xE0\x80\xAF", R"("\uf7e0\uf780\uf7af")"},            // overlong '/'
        {"\xED\xA0\x80", R"("\uf7ed\uf7a0\uf780")"},            // a surrogate
        {"\xF4\x90\x80\x80", R"("\uf7f4\uf790\uf780\uf780")"},  // above U+10FFFF
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},           // U+1F600
        {"\xEF\x9D\xBF", "\"\xEF\x9D\xBF\""},                   // U+F77F, below the range
        {"\xEF\x9E\x80", R"("\uf7ef\uf79e\uf780")"},            // U+F780 itself
        {"\xEE\x80\x80\x80", "\"\xEE\x80\x80\\uf780\""},        // U+E000, a stray byte
    };
    for (const auto &c : cases) {
        std::string written;
        json::appendQuoted(written, c.bytes);
        EXPECT_EQ(written, c.written);  // each valid JSON
        const json::ParseResult back = json::parse(written);
        ASSERT_TRUE(back.value) << back.error;
        EXPECT_EQ(back.value->text, c.bytes) << written;
    }
    // Escaped or as UTF-8 (a tool rewrote the text), U+F780..U+F7FF is a byte; the raw bytes
    // of an older description are taken as they are.
    EXPECT_EQ(json::parse("\"\\uf780\xEF\x9F\xBF\\u00e4\"").value->text, "\x80\xFF\xC3\xA4");
    EXPECT_EQ(json::parse("\"\xFF\xC3\"").value->text, "\xFF\xC3");
}

// Any key order and whitespace, every escape, unknown keys (even with numbers no double
// holds) ignored.
TEST(DescriptionJson, AnyKeyOrderWhitespaceEscapesAndUnknownKeys) {
    const std::string json = R"(  {"ended":"STOP","cycles":3,"cycles":4,"stop":"b","start":"a",
        "columns":["Ch\u0031","\u00e4\u20ac\ud83d\ude00"],"separator":"tab",
        "channel_count":2,"time_base_us":1.595e2,"speed_kbps":160,
        "telemetry_type":{"text":"x","index":1, "extra": [1, {"deep": null}]},
        "module":"m\/n","log_file":"f","version":"v","future":{"a":[true,false,1e999,-1e-999]}}
)";
    const RecordingDescription d = parsedOrFail(json);
    EXPECT_EQ(d.columns, (std::vector<std::string>{"Ch1", "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"}));
    EXPECT_EQ(d.timeBaseMicros, 159.5);
    EXPECT_EQ(d.module, "m/n");
    EXPECT_EQ(d.cycles, 4u);  // a key that repeats: the last counts
}

// Under a locale whose decimal point is ',' (Qt sets the process locale from the desktop's)
// the time base still reads with its fraction.
TEST(DescriptionJson, ADecimalCommaLocaleReadsTheFraction) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8";
    const double timeBase = parsedOrFail(describeAsJson(finished())).timeBaseMicros;
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(timeBase, 159.375);
}

// Refused descriptions ------------------------------------------------------------------------

// A description with one member replaced by `replacement` ("" removes it).
std::string withMember(std::string_view key, std::string_view replacement) {
    std::string json = describeAsJson(finished());
    const std::size_t start = json.find("  \"" + std::string(key) + "\": ");
    const std::size_t end = json.find('\n', start);
    json.replace(start, end - start,
                 replacement.empty()
                     ? "  \"ignored\": 0,"
                     : "  \"" + std::string(key) + "\": " + std::string(replacement) + ",");
    return json;
}

// Members missing or mistyped (in a description as written, one member replaced) are named;
// malformed JSON is refused with its line.
TEST(DescriptionJson, MissingOrMistypedMembersAndMalformedJsonAreNamed) {
    const struct {
        std::string json;
        std::string_view error;
    } cases[] = {
        {withMember("speed_kbps", ""), "\"speed_kbps\" is missing"},
        {withMember("speed_kbps", "\"640\""), "line 7: \"speed_kbps\" must be a whole number"},
        {withMember("speed_kbps", "4294967296"), "line 7: \"speed_kbps\" must be a whole number"},
        {withMember("cycles", "-1"), "line 14: \"cycles\" must be a whole number from 0"},
        {withMember("cycles", "-0"), "line 14: \"cycles\" must be a whole number from 0"},
        {withMember("cycles", "18446744073709551616"),
         "line 14: \"cycles\" must be a whole number from 0"},
        {withMember("time_base_us", "1e999"), "line 8: \"time_base_us\" must be a finite number"},
        {withMember("time_base_us", "1e-400"), "line 8: \"time_base_us\" must be a finite number"},
        {withMember("separator", "\";\""), "line 10: \"separator\" must be \"comma\" or \"tab\""},
        {withMember("columns", "[\"a\", 1]"), "line 11: \"columns\" must be an array of strings"},
        {withMember("telemetry_type", "{\"index\": 1}"), "\"telemetry_type.text\" is missing"},
        {withMember("stop", ""), "\"stop\" is missing"},
        {withMember("gaps", "[], \"markers\": {}"), "line 16: \"markers\" must be an array"},
        {withMember("gaps",
                    "[], \"markers\": [{\"number\": 1, \"record\": -1, \"time_s\": 0, "
                    "\"wall_clock\": \"\", \"label\": \"\"}]"),
         "line 16: each of \"markers\" must hold \"number\" and \"record\" as whole numbers, "
         "\"time_s\" as a number and \"wall_clock\" and \"label\" as strings"},
        {"[1, 2]", "line 1: a description is a JSON object ({...})"},
        {"", "line 1: unexpected end of the text, expected a value"},
        {"{\n\"a\" 1}", "line 2: expected ':' after a key"},
        {"{\"a\": 1,\n\n}", "line 3: expected a key in quotes, found '}'"},
        {"{\"a\": [1 2]}", "line 1: expected ',' or ']' in an array, found '2'"},
        {"{\"a\": \"open", "line 1: the text ends inside a string"},
        {"{\"a\": \"tab\there\"}",
         "line 1: a string holds a control character (byte \\x09); "
         "write it as an escape"},
        {"{\"a\": \"\\x\"}", "line 1: unknown escape \\x in a string"},
        {"{\"a\": \"\\u12g4\"}", "line 1: \\u needs four hex digits, found 'g'"},
        {"{\"a\": \"\\ud800\"}", "line 1: \\u escape: a high surrogate alone"},
        {"{\"a\": \"\\udc00\"}", "line 1: \\u escape: a low surrogate alone"},
        {"{\"a\": \"\\ud800\\u0041\"}",
         "line 1: \\u escape: a high surrogate not followed by a low one"},
        {"{\"a\": 01}", "line 1: a number must not start with '0' followed by digits"},
        {"{\"a\": -}", "line 1: a number needs a digit after '-'"},
        {"{\"a\": 1.}", "line 1: a number needs a digit after '.'"},
        {"{\"a\": 1e+}", "line 1: a number needs a digit in its exponent"},
        {"{\"a\": tru}", "line 1: unexpected 't', expected a value"},
        {"{} {}", "line 1: unexpected '{' after the JSON value"},
        {"\x89PNG\r\n", "line 1: unexpected byte \\x89, expected a value"},
        {"\xEF\xBB\xBF{}", "line 1: unexpected byte \\xef, expected a value"},
        {"[1,\n \xFF]", "line 2: unexpected byte \\xff, expected a value"},
        {"{\"a\":\n[1\n}", "line 3: expected ',' or ']' in an array, found '}'"},
        {std::string("{}\0{}", 5), "line 1: unexpected byte \\x00 after the JSON value"},
    };
    for (const auto &c : cases) EXPECT_EQ(errorOf(c.json), c.error) << c.json;
}

TEST(DescriptionJson, DeepNestingIsRefusedNotFollowed) {
    // Far deeper than any stack would take if the parser followed it.
    const std::string deep(1'000'000, '[');
    EXPECT_EQ(errorOf(deep), "line 1: nested deeper than 64 levels");
    std::string objects;
    for (int i = 0; i < 100'000; ++i) objects += "{\"a\":";
    EXPECT_EQ(errorOf(objects), "line 1: nested deeper than 64 levels");
    // The deepest accepted nesting, inside an ignored key.
    std::string json = describeAsJson(finished());
    json.insert(2, "\"nested\": " + std::string(json::kMaxDepth - 1, '[') +
                       std::string(json::kMaxDepth - 1, ']') + ",\n");
    EXPECT_EQ(parsedOrFail(json), finished());
}

// Files ---------------------------------------------------------------------------------------

TEST(DescriptionPath, DatBecomesJsonOtherNamesGetJsonAppended) {
    EXPECT_EQ(descriptionPathFor("/logs/jex-log-1.dat"), "/logs/jex-log-1.json");
    EXPECT_EQ(descriptionPathFor("jex-log-1-2.dat"), "jex-log-1-2.json");
    EXPECT_EQ(descriptionPathFor("/logs/run.csv"), "/logs/run.csv.json");
    EXPECT_EQ(descriptionPathFor("/logs.dat/run"), "/logs.dat/run.json");
    EXPECT_EQ(descriptionPathFor("/logs/.dat"), "/logs/.dat.json");
    EXPECT_EQ(descriptionPathFor("run.DAT"), "run.DAT.json");
}

// The atomic write replaces a file whole, keeping its permissions and leaving no temporary
// file, and says why it fails; reading names the file (the line of an error and a FIFO under
// the name: ConvertCommand's tables).
TEST(DescriptionFiles, WrittenAtomicallyAndReadNamingTheFile) {
    ScratchDirectory dir;
    const std::string path = dir.file("jex-log-1.json");
    EXPECT_EQ(readDescription(path).error, path + ": No such file or directory");
    ASSERT_EQ(writeFileAtomically(path, "old"), "");
    ::chmod(path.c_str(), 0640);
    const std::string json = describeAsJson(finished());
    ASSERT_EQ(writeFileAtomically(path, json), "");
    EXPECT_EQ(test::readFile(path), json);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    test::writeFile(path, std::string((1 << 20) + 1, ' '));
    EXPECT_EQ(readDescription(path).error,
              path + ": larger than 1048576 bytes: not a recording description");

    EXPECT_NE(writeFileAtomically(dir.file("missing/x.json"), "{}").find("No such file"),
              std::string::npos);
    // The target is a directory: the rename fails, the temporary file goes.
    const std::string target = dir.file("taken");
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    test::writeFile(target + "/inside", "kept");
    EXPECT_NE(writeFileAtomically(target, "{}").find("cannot rename"), std::string::npos);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"jex-log-1.json", "taken"}));
    EXPECT_EQ(test::readFile(target + "/inside"), "kept");
}

// Local time ----------------------------------------------------------------------------------

// The zone is TZ's, restored afterwards.
TEST(LocalTime, OffsetsEastWestAndHalfHours) {
    std::optional<std::string> previous;
    if (const char *set = std::getenv("TZ")) previous = set;
    constexpr int64_t kMoment = 1796632200;  // 2026-12-07 08:30:00 UTC
    for (const auto &[tz, moment, text] : {std::tuple{"UTC0", kMoment, "2026-12-07T08:30:00+00:00"},
                                           {"CET-1", kMoment, "2026-12-07T09:30:00+01:00"},
                                           {"EST5", kMoment, "2026-12-07T03:30:00-05:00"},
                                           {"NST3:30", kMoment, "2026-12-07T05:00:00-03:30"},
                                           {"IST-5:30", int64_t{0}, "1970-01-01T05:30:00+05:30"}}) {
        ::setenv("TZ", tz, 1);
        ::tzset();
        EXPECT_EQ(isoLocalTime(moment), text) << tz;
    }
    previous ? ::setenv("TZ", previous->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace ostrel::recording
