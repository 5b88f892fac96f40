// One JSON object on one line, for JSON Lines on standard output and for the
// run log.
//
// A line has no length limit: it is built in a buffer that grows when it must
// and keeps its capacity across Clear(). What the runs report while they tick
// must not touch the heap, so the program sizes the lines before the runs
// start (SetInitialCapacity, or Reserve on one line) from the longest strings
// it will write; no line written during the runs then grows its buffer.
//
// Every string comes out as valid UTF-8 JSON, whatever bytes went in:
//  - valid UTF-8 (1 to 4 bytes a character) passes through unchanged;
//  - '"' and '\' are escaped, and so are the control characters U+0000 to
//    U+001F and U+007F (\n, \r, \t, else \u00XX);
//  - a byte that does not belong to a valid UTF-8 sequence (overlong forms,
//    surrogates encoded in UTF-8, code points above U+10FFFF, stray
//    continuation bytes, cut sequences) becomes one U+FFFD each, and the
//    member is followed by "<key>_hex": the value's exact bytes in lower-case
//    hex. The readable value is what a person sees; the _hex member carries
//    the file name or sysfs string byte for byte, so a record of an odd path
//    loses nothing. Lone surrogate escapes (\uDCxx), which some systems use for
//    such bytes, are refused by strict parsers and are never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::station {

class JsonLine {
 public:
  JsonLine();
  // Starts a new object; the buffer keeps its capacity.
  void Clear();

  // Each adds `"key":value` after a comma where one is due. A string value of
  // nullptr is written as null.
  JsonLine& String(const char* key, const char* value);
  JsonLine& String(const char* key, std::string_view value);
  JsonLine& Number(const char* key, double value, int decimals);
  JsonLine& Unsigned(const char* key, std::uint64_t value);
  JsonLine& Bool(const char* key, bool value);
  JsonLine& Null(const char* key);
  // A nested object: Begin("image") ... End().
  JsonLine& Begin(const char* key);
  JsonLine& End();

  // The object closed and followed by a newline; stays valid until the next change.
  const char* Finish();
  std::size_t length() const { return text_.size(); }

  // Room for `bytes` of line, so that no line up to that length grows the buffer.
  void Reserve(std::size_t bytes);
  std::size_t capacity() const { return text_.capacity(); }

  // The most a string member of `bytes` bytes can take on a line, whatever
  // the bytes: its key (up to kLongestKey characters), the escaped value and
  // its _hex twin.
  static constexpr std::size_t kLongestKey = 32;
  static constexpr std::size_t StringRoom(std::size_t bytes) { return 8 * bytes + 2 * kLongestKey + 16; }

  // The capacity every line made after this call starts with (2048 bytes
  // before any call). The program sets it once, before it makes its lines.
  static void SetInitialCapacity(std::size_t bytes);
  static std::size_t InitialCapacity();

 private:
  void Key(const char* key);
  void Escaped(std::string_view text, bool& lossy);

  std::string text_;
  bool needComma_ = false;
  int depth_ = 0;
};

// True when `text` is valid UTF-8 as JSON strings must be: no overlong forms,
// no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

}  // namespace tarnwick::station
