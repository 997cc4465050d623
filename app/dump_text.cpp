#include "app/dump_text.h"

#include "app/cp1250.h"
#include "app/memo.h"

#include <vector>

namespace {

// U+2028 and U+2029 in UTF-8: E2 80 A8 and E2 80 A9.
bool IsSeparatorAt(std::string_view text, size_t at) {
  return at + 2 < text.size() && text[at] == '\xE2' && text[at + 1] == '\x80' &&
         (text[at + 2] == '\xA8' || text[at + 2] == '\xA9');
}

}  // namespace

void DumpDecoder::Decode(std::string_view bytes, std::string& out) {
  if (bytes.empty()) return;
  size_t from = 0;
  if (afterCr_ && !bytes.empty() && bytes[0] == '\n') from = 1;
  afterCr_ = false;
  // Runs between line ends go through the table at once.
  for (size_t i = from; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\r' && c != '\n') continue;
    AppendCp1250AsUtf8(out, bytes.substr(from, i - from));
    out += '\n';
    if (c == '\r') {
      if (i + 1 == bytes.size()) afterCr_ = true;
      else if (bytes[i + 1] == '\n') ++i;
    }
    from = i + 1;
  }
  AppendCp1250AsUtf8(out, bytes.substr(from));
}

std::string DumpBytesToUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  DumpDecoder().Decode(bytes, text);
  return text;
}

bool LooksLikeUtf8Text(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return true;
  bool multiByte = false;
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07, least = 0x10000;
    } else {
      return false;  // a continuation byte first, or a byte UTF-8 never has
    }
    if (i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Over-long forms, surrogates and code points past Unicode are not UTF-8.
    if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    multiByte = true;
    i += length;
  }
  return multiByte;
}

void ForEachLine(std::string_view text, const std::function<void(std::string_view line)>& line) {
  size_t from = 0;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    size_t end = 0;  // length of the line break at i
    if (c == '\n') end = 1;
    else if (c == '\r') end = i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
    else if (c == '\xE2' && IsSeparatorAt(text, i)) end = 3;
    if (end == 0) {
      ++i;
      continue;
    }
    line(text.substr(from, i - from));
    i += end;
    from = i;
  }
  if (from < text.size()) line(text.substr(from));
}

void SplitAtLineSeparators(TMemo& memo) {
  const std::string_view text = memo.Utf8();
  std::vector<size_t> at;
  for (size_t i = text.find('\xE2'); i != std::string_view::npos; i = text.find('\xE2', i + 1))
    if (IsSeparatorAt(text, i)) at.push_back(i);
  if (at.empty()) return;
  memo.SendScintilla(QsciScintillaBase::SCI_BEGINUNDOACTION);
  // From the end, so that the positions before stay where they were.
  for (auto i = at.rbegin(); i != at.rend(); ++i) {
    memo.SendScintilla(QsciScintillaBase::SCI_SETTARGETRANGE, static_cast<unsigned long>(*i),
                       static_cast<long>(*i + 3));
    memo.SendScintilla(QsciScintillaBase::SCI_REPLACETARGET, static_cast<uintptr_t>(1), "\n");
  }
  memo.SendScintilla(QsciScintillaBase::SCI_ENDUNDOACTION);
}
