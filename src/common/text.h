// Text helpers shared by the readers. Texts are UTF-8 std::string inside the program; the
// UTF-16LE fields of binary formats are converted at the boundary with the two functions below.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

// Marks an operator text that reaches the language table later, through a constant, a table or
// a variable rather than a Translate call with the text in it. It does nothing at run time; the
// check of the shipped language files reads these marks, so a marked text without a
// translation fails the build's tests instead of showing in English to a Chinese operator.
constexpr const char* TextKey(const char* text) { return text; }

// Blanks are space, tab, CR, LF, vertical tab and form feed.
std::string Trim(std::string_view s);
std::string TrimRight(std::string_view s);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);
bool Contains(std::string_view s, std::string_view part);
std::string ToLowerAscii(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::vector<std::string> Split(std::string_view s, char separator);
// `text` without any of the characters in `letters` ("[]" from a file name, the letters of a
// version text).
std::string WithoutLetters(std::string_view text, std::string_view letters);

// UTF-16LE bytes (stopping at the first NUL code unit or the end) to UTF-8, and back.
// Unpaired surrogates become U+FFFD; nothing is read past `size` bytes.
std::string Utf16LeToUtf8(const uint8_t* data, size_t size);
std::vector<uint8_t> Utf8ToUtf16Le(std::string_view text);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Converts the backslashes of a path taken from a text file to '/', so that paths written
// the Windows way ("Skin1\", "UpgradeFile\x.bin") work here too.
std::string NormalizeSeparators(std::string_view path);

// Puts `args` in place of the "%s" of `pattern`, in order. Meant for translated message
// patterns: a language file is outside data, so it never reaches printf; a "%s" without an
// argument left stays as it is, and no other "%" sequence means anything.
std::string FillPlaceholders(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace lw
