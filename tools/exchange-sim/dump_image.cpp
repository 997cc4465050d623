#include "tools/exchange-sim/dump_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace exchange_sim {
namespace {

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }

 private:
  std::uint64_t state_;
};

const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, unsigned value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// Labels as a technician's exchange would hold them, in Windows-1250:
// they cover letters from 0x8A to 0xFD, among them the 0x8x/0x9x ones.
const char* const kLabels[] = {
    "\xDA\xE8\x61stn\xEDk",         // Účastník
    "P\xF8\x65pojova\xE8",          // Přepojovač
    "\xDAst\xF8\x65\x64na",         // Ústředna
    "\x8E\xE1\x64ost",              // Žádost
    "\x8Akoln\xED linka",           // Školní linka
    "Sm\xECrov\xE9 \xE8\xEDslo",    // Směrové číslo
    "Tla\xE8\xEDtko LOAD",          // Tlačítko LOAD
    "\x8E\xEF\xE1r",                // Žďár
    "Pr\xF9m\xECr hovoru",          // Průměr hovoru
    "Hu\x9D, Ko\xF2, Po\x9Ata",      // Huť, Koň, Pošta
};

}  // namespace

Lines GenerateImage(const GenerateOptions& options) {
  Lines lines;
  Random random(options.seed);
  std::size_t total = 0;
  // The third line's address is 7700: the lines from there to 77F0 begin
  // with the end mark's two characters and go on.
  unsigned address = 0x7700 - 2 * 16;
  std::size_t index = 0;
  while (total < options.bytes) {
    std::string line;
    AppendHex(line, address, 4);
    line += ':';
    for (int i = 0; i < 16; ++i) {
      // RAM is full of the byte 77: one line in four holds it at least once.
      const std::uint8_t byte = (index % 4 == 1 && i == int(index % 16)) ? 0x77 : random.Byte();
      line += ' ';
      AppendHex(line, byte, 2);
    }
    if (options.high_bytes && index % 8 == 3) {
      line += " ;";
      line += kLabels[(index / 8) % std::size(kLabels)];
    }
    total += line.size() + 1;
    lines.push_back(std::move(line));
    address = (address + 16) & 0xFFFF;
    ++index;
  }
  return lines;
}

Lines SplitDumpText(std::string_view bytes) {
  Lines lines;
  std::string line;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

Lines ReadDumpFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  return SplitDumpText(content.str());
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush())
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

void StripEndMark(Lines& lines, const std::string& end_mark) {
  if (!end_mark.empty() && !lines.empty() && lines.back() == end_mark) lines.pop_back();
}

std::string_view LineEndBytes(LineEnding ending) {
  return ending == LineEnding::CrLf ? std::string_view("\r\n") : std::string_view("\r");
}

std::string EncodeDump(const Lines& lines, LineEnding ending, const std::string& end_mark) {
  const std::string_view end = LineEndBytes(ending);
  std::string out;
  std::size_t size = end_mark.empty() ? 0 : end_mark.size() + end.size();
  for (const auto& line : lines) size += line.size() + end.size();
  out.reserve(size);
  for (const auto& line : lines) {
    out += line;
    out += end;
  }
  if (!end_mark.empty()) {
    out += end_mark;
    out += end;
  }
  return out;
}

void LoadCollector::Feed(std::string_view bytes) {
  raw_.append(bytes);
  for (char c : bytes) {
    if (c == '\n' && !tail_.empty() && tail_.back() == '\r') {
      tail_.pop_back();
      lines_.push_back(std::move(tail_));
      tail_.clear();
    } else {
      tail_ += c;
    }
  }
}

LoadResult CompareLoad(const Lines& received, std::string_view tail, const Lines& expected,
                       const std::string& end_mark) {
  LoadResult result;
  result.lines = received.size();
  result.tail_bytes = tail.size();
  std::size_t compared = received.size();
  if (!end_mark.empty() && received.size() == expected.size() + 1 && received.back() == end_mark) {
    result.end_mark = true;
    compared = expected.size();
  }
  const std::size_t common = std::min(compared, expected.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (received[i] != expected[i]) {
      result.first_difference = i + 1;
      result.expected_line = expected[i];
      result.received_line = received[i];
      return result;
    }
  }
  if (compared < expected.size()) {
    result.first_difference = compared + 1;
    result.expected_line = expected[compared];
    result.line_missing = true;
    if (!tail.empty()) result.received_line = std::string(tail);
    return result;
  }
  if (compared > expected.size()) {
    result.first_difference = expected.size() + 1;
    result.received_line = received[expected.size()];
    result.line_extra = true;
    return result;
  }
  if (!tail.empty()) {
    // Bytes after the last line end: a line the tool did not finish.
    result.first_difference = compared + 1;
    result.received_line = std::string(tail);
    result.line_extra = true;
    return result;
  }
  result.equal = true;
  return result;
}

std::string DescribeLoad(const LoadResult& result, const std::string& expected_name) {
  std::string text = std::to_string(result.lines) + (result.lines == 1 ? " line" : " lines") +
                     " received, ";
  if (result.equal) {
    text += "equal to " + expected_name;
    if (result.end_mark) text += " (and the end mark)";
    return text;
  }
  text += "differs at line " + std::to_string(result.first_difference);
  if (result.line_missing)
    text += " (the load ends before it)";
  else if (result.line_extra && result.tail_bytes > 0 && result.first_difference > result.lines)
    text += " (" + std::to_string(result.tail_bytes) + " bytes without CR LF at the end)";
  else if (result.line_extra)
    text += " (more lines than expected)";
  return text;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      AppendHex(out, c, 2);
    }
  }
  return out;
}

}  // namespace exchange_sim
