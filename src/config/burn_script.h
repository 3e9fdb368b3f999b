// The burn script (Torvex.ini): for every image kind, the radio commands that erase, write and
// read it, and the named values those commands use.
//
// Grammar (on top of the shared line reader): "[COMM DEFINE]" holds values shared by all kinds;
// every other section is an image-kind section and opens a ScriptEntry. Inside a kind section a
// line holding "XRCP_" is a command line; any other line is a value line key = value. Every value
// line (of any section) also becomes a DefinedValue; its key, when it is one of the entry keys
// (MEMORYTYPE, FILESYSTEM, USERDEF, MODIFYADDR, BINARY, ORIGIN, LENGTH, EXTORG, EXTLEN), sets the
// entry's field too (the last occurrence wins there; the value list keeps all).
//
// The "user_defined" section always covers the whole flash: its ORIGIN and LENGTH become "0x0"
// and "0x1000000" whatever the file says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

inline constexpr const char* kBurnScriptFileName = "Torvex.ini";
inline constexpr const char* kCommDefineSection = "COMM DEFINE";
// A defined value of this number counts as not defined when commands resolve names.
inline constexpr int32_t kUndefinedValue = -1111;

// Numbers in script texts: the text is cut at the first "("; with "0x" or "0X" in it, it is read
// as hexadecimal (leading blanks, an optional sign and the prefix allowed, like "%X"), else as
// decimal with an optional sign. Reading stops at the first character that is not a digit;
// text without digits gives 0. A value beyond 32 bits saturates at 0xFFFFFFFF; the result is
// the 32-bit pattern, so "-1111" gives the pattern of -1111.
uint32_t ParseNumber(std::string_view text);
// Decimal text as strtoul reads it with a 32-bit unsigned long: leading blanks, a sign, the
// digits up to the first other character ("0x10" is 0, "12(4)" is 12); too large gives
// 0xFFFFFFFF, a negative number is taken modulo 2^32.
uint32_t UnsignedDecimal(std::string_view text);

// Splits a line at blanks; a group from "[" to "]" is one token (brackets kept) even when it
// holds blanks; an unclosed "[" runs to the end of the line. Runs of blanks give no empty tokens.
std::vector<std::string> SplitScriptTokens(std::string_view line);

struct ScriptEntry {
  std::string name;            // the kind name (section name); FindEntry compares it exactly
  uint32_t memoryType = 0;     // MEMORYTYPE (decimal)
  uint32_t fileSystem = 0;     // FILESYSTEM
  uint32_t userDefined = 0;    // USERDEF
  uint32_t modifyAddress = 0;  // MODIFYADDR
  uint32_t binary = 0;         // BINARY
  std::string origin;          // ORIGIN: start of the kind's flash window (text)
  std::string length;          // LENGTH: its length (text)
  std::string extraOrigin;     // EXTORG: start of the extra window, often empty
  std::string extraLength;     // EXTLEN: length of the extra window
};

// Position flag values of a command line's option token.
inline constexpr int kPositionNone = -1;
inline constexpr int kPositionBegin = 0;
inline constexpr int kPositionExtern = 1;

struct CommandLine {
  std::string kind;         // the section the line stands in
  std::string line;         // the whole line (trimmed, comment cut)
  std::string commandPart;  // tokens before the first token holding "[", joined by two blanks
  std::vector<std::string> tokens;  // every token of the line
  std::string option;       // the first bracketed token, brackets kept ("" when none)
  int32_t optionIndex = -1; // index=value option: ParseNumber of the index; -1 without one
  int32_t optionValue = 0;  // ... and of the value (0 unless the option holds "=")
  std::string fileMarker;   // "FILE" when the option holds "FILE", else empty
  int hexFlag = -1;         // 0 when the option holds "HEX", else -1
  int positionFlag = kPositionNone;  // BEGIN gives 0, EXTERN 1 (EXTERN wins), else -1
};

struct DefinedValue {
  std::string section;  // "COMM DEFINE" or the kind name
  std::string name;     // the key
  int32_t value = 0;    // ParseNumber of the value text
  std::string tag;      // COMM DEFINE only: the line's second token without "[" and "]"
};

class BurnScript {
 public:
  // Reads the script, replacing whatever was loaded before. Returns false when the file cannot
  // be opened; the lists are then empty. Malformed lines are kept as what they read as.
  bool LoadBurnScript(const std::string& path);
  // Same, from text already in memory (tests, fuzzing).
  void LoadBurnScriptText(std::string_view text);

  // The entry whose name equals `name` exactly, or nullptr.
  const ScriptEntry* FindEntry(std::string_view name) const;
  // The command lines of one kind (exact name), in file order.
  std::vector<CommandLine> CommandLines(std::string_view kind) const;
  // Every value line of every section, in file order.
  const std::vector<DefinedValue>& DefinedValues() const { return values_; }

  const std::vector<ScriptEntry>& Entries() const { return entries_; }
  const std::vector<CommandLine>& AllCommandLines() const { return lines_; }

  // The first defined value named `name` (case-insensitive) whose section is `kind` or
  // "COMM DEFINE", in file order; a value of kUndefinedValue counts as not defined.
  std::optional<int32_t> LookupValue(std::string_view kind, std::string_view name) const;

 private:
  void AddLine(const std::string& raw, std::string& section, bool& pending, ScriptEntry& entry);

  std::vector<ScriptEntry> entries_;
  std::vector<CommandLine> lines_;
  std::vector<DefinedValue> values_;
};

// Builds the record of one command line standing in section `kind`.
CommandLine ParseCommandLine(const std::string& kind, const std::string& line);

}  // namespace lw
