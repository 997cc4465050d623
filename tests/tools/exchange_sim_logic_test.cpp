// Image generation, dump text, load checking and the command line.
#include <gtest/gtest.h>

#include "tools/exchange-sim/dump_image.h"
#include "tools/exchange-sim/options.h"

namespace exchange_sim {
namespace {

// Like real RAM: "77" inside lines and at their start, never a line that is
// the end mark alone.
TEST(ExchangeSimImage, GeneratedLinesLookLikeRamWithTheMarksPairInside) {
  GenerateOptions options;
  options.bytes = 200000;
  Lines lines = GenerateImage(options);
  std::size_t total = 0, inside = 0, leading = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    total += line.size() + 1;
    ASSERT_EQ(line.size(), 53u) << line;
    ASSERT_EQ(line.substr(4, 2), ": ") << line;
    EXPECT_EQ(line.find_first_not_of("0123456789ABCDEF: "), std::string::npos) << line;
    EXPECT_NE(line, "77");
    if (i > 0) {
      EXPECT_EQ(std::stoul(line.substr(0, 4), nullptr, 16),
                (std::stoul(lines[i - 1].substr(0, 4), nullptr, 16) + 16) & 0xFFFF);
    }
    inside += line.find("77", 2) != std::string::npos;
    leading += line.rfind("77", 0) == 0;
  }
  EXPECT_GE(total, options.bytes);
  EXPECT_LT(total, options.bytes + 54);
  EXPECT_GT(inside, lines.size() / 4);
  EXPECT_EQ(lines[2].substr(0, 2), "77");
  EXPECT_GE(leading, 16u);
}

TEST(ExchangeSimImage, SameSeedSameImageOtherSeedOtherImage) {
  GenerateOptions a;
  a.bytes = 5000;
  GenerateOptions b = a;
  b.seed = 2;
  EXPECT_EQ(GenerateImage(a), GenerateImage(a));
  EXPECT_NE(GenerateImage(a), GenerateImage(b));
  a.bytes = 0;
  EXPECT_TRUE(GenerateImage(a).empty());
}

TEST(ExchangeSimImage, HighBytesOnlyWhenAskedAndNeverLineEnds) {
  GenerateOptions options;
  options.bytes = 20000;
  auto count_high = [](const Lines& lines) {
    std::size_t high = 0;
    for (const auto& line : lines)
      for (unsigned char c : line) {
        EXPECT_TRUE(c != '\r' && c != '\n' && c != 0);
        high += c >= 0x80;
      }
    return high;
  };
  EXPECT_EQ(count_high(GenerateImage(options)), 0u);
  options.high_bytes = true;
  Lines lines = GenerateImage(options);
  EXPECT_GT(count_high(lines), 50u);
}

TEST(ExchangeSimImage, DumpTextSplitsAtEveryKindOfLineEnd) {
  EXPECT_EQ(SplitDumpText("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitDumpText("a\r\n\r\nb\r\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitDumpText("\r\r"), (Lines{"", ""}));
  EXPECT_TRUE(SplitDumpText("").empty());
  EXPECT_EQ(SplitDumpText(std::string("\x80\xFF\r\n", 4)), (Lines{"\x80\xFF"}));

  Lines saved{"x", "77"};
  StripEndMark(saved, "77");
  EXPECT_EQ(saved, (Lines{"x"}));
  StripEndMark(saved, "77");
  EXPECT_EQ(saved, (Lines{"x"}));
}

TEST(ExchangeSimImage, EncodedDumpEndsWithTheEndMark) {
  EXPECT_EQ(EncodeDump({"ab", "", "c"}, LineEnding::Cr, "77"), "ab\r\rc\r77\r");
  EXPECT_EQ(EncodeDump({"ab"}, LineEnding::CrLf, "77"), "ab\r\n77\r\n");
  EXPECT_EQ(EncodeDump({"ab"}, LineEnding::Cr, ""), "ab\r");
  EXPECT_EQ(EncodeDump({}, LineEnding::Cr, "77"), "77\r");
}

TEST(ExchangeSimLoad, CollectorSplitsOnlyAtCrLfWhateverTheChunks) {
  LoadCollector load;
  for (std::string_view chunk : {"ab", "c\r", "\n\r", "\nx\ry\r\n", "tail\r"}) load.Feed(chunk);
  EXPECT_EQ(load.lines(), (Lines{"abc", "", "x\ry"}));
  EXPECT_EQ(load.tail(), "tail\r");
  EXPECT_EQ(load.raw(), "abc\r\n\r\nx\ry\r\ntail\r");
}

TEST(ExchangeSimLoad, ComparisonFindsTheFirstDifferingLine) {
  const Lines image{"a", "b", "c"};
  auto equal = CompareLoad({"a", "b", "c"}, "", image, "77");
  EXPECT_TRUE(equal.equal);
  EXPECT_FALSE(equal.end_mark);
  EXPECT_EQ(DescribeLoad(equal, "image"), "3 lines received, equal to image");

  auto marked = CompareLoad({"a", "b", "c", "77"}, "", image, "77");
  EXPECT_TRUE(marked.equal);
  EXPECT_TRUE(marked.end_mark);

  auto changed = CompareLoad({"a", "B", "c"}, "", image, "77");
  EXPECT_FALSE(changed.equal);
  EXPECT_EQ(changed.first_difference, 2u);
  EXPECT_EQ(changed.expected_line, "b");
  EXPECT_EQ(changed.received_line, "B");
  EXPECT_EQ(DescribeLoad(changed, "image"), "3 lines received, differs at line 2");

  auto short_load = CompareLoad({"a", "b"}, "", image, "77");
  EXPECT_EQ(short_load.first_difference, 3u);
  EXPECT_TRUE(short_load.line_missing);

  auto unfinished = CompareLoad({"a", "b", "c"}, "d", image, "77");
  EXPECT_FALSE(unfinished.equal);
  EXPECT_EQ(unfinished.first_difference, 4u);
  EXPECT_EQ(unfinished.tail_bytes, 1u);

  auto extra = CompareLoad({"a", "b", "c", "d"}, "", image, "77");
  EXPECT_FALSE(extra.equal);
  EXPECT_EQ(extra.first_difference, 4u);

  // An end mark anywhere but as the one extra last line is a difference.
  EXPECT_FALSE(CompareLoad({"a", "77", "c"}, "", image, "77").equal);
  EXPECT_TRUE(CompareLoad({}, "", {}, "77").equal);
}

TEST(ExchangeSimLoad, PrintableEscapesControlAndHighBytes) {
  EXPECT_EQ(Printable(std::string("a\r\x80\\", 4)), "a\\x0D\\x80\\x5C");
}

SimOptions Parse(std::vector<std::string> args) {
  auto options = ParseOptions(args);
  if (!options) throw std::logic_error("help");
  return *options;
}

TEST(ExchangeSimOptions, DefaultsDependOnThePortKind) {
  SimOptions pty = Parse({});
  EXPECT_TRUE(pty.device.empty());
  EXPECT_EQ(pty.line_speed, 1200u);
  EXPECT_EQ(pty.trigger, Trigger::Open);
  EXPECT_EQ(pty.load_idle_ms, 0u);
  EXPECT_EQ(pty.end_mark, "77");

  SimOptions device = Parse({"--device", "/dev/ttyUSB0", "--baud=9600"});
  EXPECT_EQ(device.device, "/dev/ttyUSB0");
  EXPECT_EQ(device.baud, 9600u);
  EXPECT_EQ(device.line_speed, 0u);
  EXPECT_EQ(device.trigger, Trigger::Command);
  EXPECT_EQ(device.load_idle_ms, 2000u);
}

TEST(ExchangeSimOptions, ValuesAndLaterOptionsWin) {
  SimOptions o = Parse({"--generate", "64k", "--line-speed", "9600", "--unpaced", "--line-ending", "crlf",
                        "--expect-load", "image", "--end-mark=", "--quiet", "0", "--high-bytes"});
  EXPECT_EQ(o.generate.bytes, 65536u);
  EXPECT_TRUE(o.generate.high_bytes);
  EXPECT_EQ(o.line_ending, LineEnding::CrLf);
  EXPECT_EQ(o.line_speed, 0u);
  EXPECT_TRUE(o.expect_file.empty());
  EXPECT_TRUE(o.end_mark.empty());
  EXPECT_EQ(o.quiet_ms, 0u);
  EXPECT_FALSE(ParseOptions({"--pty", "--help"}));
}

TEST(ExchangeSimOptions, MistakesAreNamed) {
  for (auto args : std::vector<std::vector<std::string>>{
           {"--baud"}, {"--baud", "12x"}, {"--baud", "0"}, {"--generate", "-1"}, {"--line-ending", "lf"},
           {"--pty", "--device", "/dev/ttyS0"}, {"--device", "/dev/ttyS0", "--trigger", "open"},
           {"--device", "/dev/ttyS0", "--once"}, {"--unpaced=1"}, {"--end-mark", "7\r"}, {"--frobnicate"}}) {
    EXPECT_THROW(ParseOptions(args), UsageError) << args[0];
  }
  try {
    ParseOptions({"--line-speed", "fast"});
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("--line-speed"), std::string::npos);
  }
}

}  // namespace
}  // namespace exchange_sim
