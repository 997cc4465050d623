// TIniFile: values in sections of an INI file, read and written one at a
// time through the system's profile functions.
//
//   TIniFile ini("/home/me/vazur.ini");
//   ini.WriteString("ComPort1", "Port", "COM3");   // [ComPort1] Port=COM3
//   std::string port = ini.ReadString("ComPort1", "Port", "COM1");
//
// Every write goes to the file at once and replaces it whole only when the
// new contents are safely on disk; comments and other lines stay as they
// were. Section and value names match ignoring ASCII case. Reads of a missing
// file, section or value give the default. Writes that fail raise
// EIniFileException naming the file, section and value. A relative file
// name is taken from the working directory when the object is made. Names
// and text are UTF-8. On Windows they go through the wide functions, and
// text that is not UTF-8, or that the file's 8-bit code page cannot hold,
// is refused rather than stored changed.
#pragma once

#include "rtl/classes.h"

#include <cstdint>
#include <string>
#include <vector>

class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

class TIniFile : public TObject {
 public:
  explicit TIniFile(std::string FileName);

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) const;
  // A value with blanks at either end, or enclosed in quotes, is stored in
  // quotes so that it reads back unchanged. What the file cannot hold is
  // refused, as "invalid name or value": a line break or NUL anywhere, ']'
  // in a section name, a value name that is empty, holds '=' or starts with
  // '[', ';' or '#'.
  void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
  // Decimal, or hexadecimal written as $1F or 0x1F; anything else (or a
  // number outside 32 bits) gives the default.
  int32_t ReadInteger(const std::string& Section, const std::string& Ident, int32_t Default) const;
  void WriteInteger(const std::string& Section, const std::string& Ident, int32_t Value);
  // Stored as 1 / 0; any integer other than 0 reads as true.
  bool ReadBool(const std::string& Section, const std::string& Ident, bool Default) const;
  void WriteBool(const std::string& Section, const std::string& Ident, bool Value);

  bool SectionExists(const std::string& Section) const;
  bool ValueExists(const std::string& Section, const std::string& Ident) const;
  // Section names, and the value names of one section, in file order.
  std::vector<std::string> ReadSections() const;
  std::vector<std::string> ReadSection(const std::string& Section) const;
  void EraseSection(const std::string& Section);
  void DeleteKey(const std::string& Section, const std::string& Ident);
  // Every write is already on disk; kept for callers that flush.
  void UpdateFile() {}

 private:
  std::vector<std::string> ReadList(const char* Section) const;
  [[noreturn]] void Fail(const std::string& what, uint32_t error) const;

  std::string fileName_;
};
