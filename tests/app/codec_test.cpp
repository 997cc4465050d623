// The Windows-1250 codec and the dump text helpers.
#include "app/cp1250.h"
#include "app/dump_file.h"
#include "app/dump_text.h"
#include "app/memo.h"
#include "tests/app/memo_lines.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <string>

namespace {

#ifdef _WIN32
// Windows' own table of code page 1250. It has no gaps: it fills them with
// the C1 controls itself.
constexpr int kSystemGaps = 0;
struct SystemTable {
  bool valid() const { return IsValidCodePage(1250); }
  // Windows' conversion of one byte, or -1 where it has none.
  int Decode(unsigned char byte) const {
    const char in = static_cast<char>(byte);
    wchar_t out[2] = {};
    return MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, &in, 1, out, 2) == 1 ? out[0] : -1;
  }
};
#else
// The C library's table, which leaves five bytes unassigned.
constexpr int kSystemGaps = 5;
struct SystemTable {
  SystemTable() : cd(iconv_open("UTF-16LE", "CP1250")) {}
  ~SystemTable() {
    if (valid()) iconv_close(cd);
  }
  bool valid() const { return cd != reinterpret_cast<iconv_t>(-1); }
  // The C library's own conversion of one byte, or -1 where it has none.
  int Decode(unsigned char byte) const {
    char in[1] = {static_cast<char>(byte)};
    char16_t out[4] = {};
    char* inPtr = in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return -1;
    return sizeof(out) - outLeft == 2 ? out[0] : -1;
  }
  iconv_t cd;
};
#endif

}  // namespace

TEST(AppCodec, AgreesWithTheSystemTableAndFillsItsGapsWithC1) {
  const SystemTable system;
  ASSERT_TRUE(system.valid());
  int gaps = 0;
  for (int b = 1; b < 256; ++b) {
    const int expected = system.Decode(static_cast<unsigned char>(b));
    const char16_t got = kCp1250ToUnicode[b];
    if (expected < 0) {
      ++gaps;
      EXPECT_EQ(got, b) << "unassigned byte " << b;
    } else {
      EXPECT_EQ(got, expected) << "byte " << b;
    }
    EXPECT_EQ(EncodeCp1250Code(got), b) << "byte " << b;
  }
  EXPECT_EQ(gaps, kSystemGaps);
  EXPECT_EQ(EncodeCp1250Code(kNulSymbol), 0);
  EXPECT_EQ(EncodeCp1250Code(0), 0);
  EXPECT_FALSE(EncodeCp1250Code(U'\u2200').has_value());
  EXPECT_FALSE(EncodeCp1250Code(U'\U0001F600').has_value());
}

namespace {

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

}  // namespace

TEST(AppCodec, DumpTextEndsLinesAtCrLfCrAndLfAlsoAcrossPieces) {
  EXPECT_EQ(Text(DumpBytesToUtf8("a\r\nb\rc\nd")), QStringLiteral("a\nb\nc\nd"));
  EXPECT_EQ(Text(DumpBytesToUtf8("a\r\n")), QStringLiteral("a\n"));
  EXPECT_EQ(Text(DumpBytesToUtf8("\r\r\n\n\n\r")), QStringLiteral("\n\n\n\n\n"));  // CR, CR LF, LF, LF, CR
  EXPECT_EQ(DumpBytesToUtf8(""), "");
  EXPECT_EQ(Text(DumpBytesToUtf8(std::string_view("x\0y\x9a\r\n", 6))), QStringLiteral("x\u2400yš\n"));
  // Czech letters as technicians type them.
  EXPECT_EQ(Text(DumpBytesToUtf8("\x8a\x9a\xe8\xc8\xf8\xd8\xf9\xd9\xec\xcc")), QStringLiteral("ŠščČřŘůŮěĚ"));
  // A file read in pieces: a CR LF split between two is one line end.
  DumpDecoder decoder;
  std::string text;
  for (std::string_view piece : {"a\r", "\nb\r", "c\r", "", "\n", "\n"}) decoder.Decode(piece, text);
  EXPECT_EQ(text, "a\nb\nc\n\n");
}

// What the pane shows is what goes back out: every byte but the two line
// ends, through the pane and out as a dump line.
TEST(AppCodec, EveryByteRoundTripsThroughThePane) {
  std::string line;
  for (int b = 0; b < 256; ++b)
    if (b != '\r' && b != '\n') line += static_cast<char>(b);
  TMemo memo;
  memo.Replace(0, [&](auto append) { append(DumpBytesToUtf8(line + "\r\n")); });
  EXPECT_EQ(memo.LineCount(), 1);
  EXPECT_EQ(memo.text().at(0), QChar(kNulSymbol));
  EXPECT_EQ(memo.text().size(), 255);  // 254 characters and the line end
  EXPECT_EQ(EncodeDumpText(memo.Utf8()), line + "\r\n");
}

TEST(AppCodec, MemoLinesLeaveOutOnlyTheRestAfterAFinalLineBreak) {
  TMemo memo;
  auto lines = [&](const QString& text) {
    memo.setText(text);
    return MemoLines(memo);
  };
  EXPECT_EQ(lines(QString()), QStringList());
  EXPECT_EQ(lines(QStringLiteral("a")), QStringList({"a"}));
  EXPECT_EQ(lines(QStringLiteral("a\nb\n")), QStringList({"a", "b"}));
  EXPECT_EQ(lines(QStringLiteral("a\n\n")), QStringList({"a", ""}));
  EXPECT_EQ(lines(QStringLiteral("\n")), QStringList({""}));
  EXPECT_EQ(lines(QStringLiteral("a\r\nb\rc")), QStringList({"a", "b", "c"}));
  // A pasted line or paragraph separator breaks the line too.
  EXPECT_EQ(lines(QStringLiteral("a\u2028b\u2029")), QStringList({"a", "b"}));
  // A no-break space (byte 0xA0) stays what it is.
  EXPECT_EQ(lines(Text(DumpBytesToUtf8("x\xa0y\r\n"))), QStringList({QStringLiteral("x\u00a0y")}));
}
