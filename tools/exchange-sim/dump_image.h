// The exchange's side of the data: the RAM image it transmits, the bytes
// that go on the line, and the checking of a load that comes back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace exchange_sim {

using Lines = std::vector<std::string>;

struct GenerateOptions {
  // About this many bytes as sent with CR line ends; the image does not
  // depend on the line ending, so both ends of a test can make the same one.
  std::size_t bytes = 12000;
  std::uint64_t seed = 1;
  bool high_bytes = false;     // some lines carry Czech labels in Windows-1250
};

// A deterministic image of exchange RAM as the exchange lists it:
// "AAAA: DD DD ... DD" (address, 16 bytes), 53 characters. As in real RAM,
// "77" stands inside lines, and some lines begin with it; no line is the
// end mark "77" alone.
Lines GenerateImage(const GenerateOptions& options);

// Splits a dump file's bytes into lines. CR LF, CR and LF each end a line;
// a last line without an end still counts.
Lines SplitDumpText(std::string_view bytes);

// Reads a dump file; throws std::runtime_error with a readable message.
Lines ReadDumpFile(const std::string& path);
// Writes bytes as a file; throws std::runtime_error with a readable message.
void WriteWholeFile(const std::string& path, const std::string& bytes);

// Drops a last line that equals the end mark, so that a dump saved by the
// tool (which keeps the "77" line) is not sent with two end marks.
void StripEndMark(Lines& lines, const std::string& end_mark);

enum class LineEnding { Cr, CrLf };
std::string_view LineEndBytes(LineEnding ending);

// What goes on the line: each line and its end, then the end mark and its
// end (when the mark is not empty).
std::string EncodeDump(const Lines& lines, LineEnding ending, const std::string& end_mark);

// Collects a load: lines each ended by CR LF.
class LoadCollector {
 public:
  void Feed(std::string_view bytes);
  const Lines& lines() const { return lines_; }
  // Bytes after the last CR LF.
  const std::string& tail() const { return tail_; }
  const std::string& raw() const { return raw_; }
  bool empty() const { return raw_.empty(); }

 private:
  Lines lines_;
  std::string tail_;
  std::string raw_;
};

struct LoadResult {
  std::size_t lines = 0;           // complete lines received
  bool equal = false;
  bool end_mark = false;           // the load ended with the end mark as an extra line
  std::size_t first_difference = 0;  // 1-based line number, 0 when equal
  std::size_t tail_bytes = 0;      // bytes not ended by CR LF
  std::string expected_line;       // at first_difference, when there is one
  std::string received_line;
  bool line_missing = false;       // the load ended before the expected line
  bool line_extra = false;         // the load goes on past the expected lines
};

// A load equals the expected lines, optionally followed by the end mark.
LoadResult CompareLoad(const Lines& received, std::string_view tail, const Lines& expected,
                       const std::string& end_mark);

// "1234 lines received, equal to image" / "... differs at line N".
std::string DescribeLoad(const LoadResult& result, const std::string& expected_name);

// Bytes shown with \xNN for anything that is not printable ASCII.
std::string Printable(std::string_view bytes);

}  // namespace exchange_sim
