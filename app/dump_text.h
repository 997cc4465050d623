// Dump files as text: bytes into the text pane and the pane's lines out.
#pragma once

#include <functional>
#include <string>
#include <string_view>

class TMemo;

// Turns a dump's bytes (Windows-1250) into the pane's text (UTF-8): CR LF, a
// lone CR and a lone LF each end a line and become '\n'; a final line end
// stays, so the pane holds the file's text as it is. The bytes may come in
// pieces: a CR that ends one piece and an LF that starts the next are one
// line end.
class DumpDecoder {
 public:
  void Decode(std::string_view bytes, std::string& out);

 private:
  bool afterCr_ = false;
};

// The whole of a dump at once.
std::string DumpBytesToUtf8(std::string_view bytes);

// Whether a file's bytes are UTF-8 text rather than a Windows-1250 dump: they
// start with a UTF-8 byte order mark, or they are valid UTF-8 and hold at
// least one multi-byte sequence (as Czech text saved by a modern editor
// does; in Windows-1250 such letters are single bytes that almost never
// form valid UTF-8).
bool LooksLikeUtf8Text(std::string_view bytes);

// Calls `line` with each line of pane text (UTF-8): the text split at CR LF,
// CR, LF and at U+2028 / U+2029 (which a paste may bring; Windows-1250 has
// no byte for them), where the empty rest after a final line break is no
// line (so an empty text has none).
void ForEachLine(std::string_view text, const std::function<void(std::string_view line)>& line);

// Turns every U+2028 / U+2029 in the pane into a real line break, so each
// line of the pane is one line of the dump.
void SplitAtLineSeparators(TMemo& memo);
