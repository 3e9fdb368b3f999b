// loftwise-cli hex: reads Intel HEX text the way an upgrade does and writes the packed image
// and the segment table that would be burned.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "cli/command.h"
#include "cli/console_port.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/settings.h"
#include "engine/binary_image.h"
#include "engine/hex_image.h"
#include "ui/translate.h"

namespace lw::cli {
namespace {

int RunHex(const std::vector<std::string>& argv);

const CommandInfo kInfo{
    "hex", "hex FILE [--offset N] [--origin N] [--table-length N] --image OUT [--table OUT] [--home DIR]",
    "load Intel HEX text (a file, or an entry of a package) into a packed image and segment table",
    RunHex};

const char* kDetails =
    "Reads the HEX text that starts at byte N of FILE (--offset, default 0: a whole HEX file;\n"
    "a package entry's data offset reads the entry) up to its end record, exactly as an\n"
    "upgrade does, and writes:\n"
    "  --image OUT   the packed image: the segments' bytes back to back, 0xFF where no data\n"
    "  --table OUT   the segment table: 16 bytes per segment, AA 55 00 00, flash address\n"
    "                (packed offset + --origin), start address, length (little-endian)\n"
    "--origin N      flash address at which the packed image is written (default 0)\n"
    "--table-length N  bytes of segment table to write (default: one entry per segment)\n"
    "--home DIR      program directory whose set.ini gives the language of the messages\n"
    "Numbers may be decimal or 0x-hexadecimal. Prints one line per segment. The reader's\n"
    "messages are printed as they would be shown, in the language of set.ini; exit status 2\n"
    "when the text is refused.\n";

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  out.close();
  return bool(out);
}

int RunHex(const std::vector<std::string>& argv) {
  Args args(argv, {"offset", "origin", "table-length", "image", "table", "home"}, {"help"});
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  const auto offset = args.Number("offset");
  const auto origin = args.Number("origin");
  const auto tableLength = args.Number("table-length");
  if (!args.ok()) return Fail(args.error());
  if (args.Positionals().size() != 1) return Fail("hex needs one FILE (see hex --help)");
  const auto imagePath = args.Value("image");
  if (!imagePath) return Fail("hex needs --image OUT");
  if (offset.value_or(0) < 0) return Fail("--offset must not be negative");
  if (origin && (*origin < 0 || *origin > 0xFFFFFFFFLL)) return Fail("--origin must fit in 32 bits");
  if (tableLength && (*tableLength < 0 || size_t(*tableLength) > kSegmentTableBufferSize))
    return Fail(Format("--table-length must be 0 to %zu", kSegmentTableBufferSize));

  // The reader's messages come out in the operator's language, as in an upgrade.
  const std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  ProgramSettings settings;
  if (ReadProgramSettings(JoinPath(home, kSettingsFileName), settings)) InitInterfaceLanguage(settings.language, home);

  ConsolePort port(ConsolePort::ForTerminal(false, std::nullopt), std::cout, std::cerr, std::cin);
  HexImage hex(&port);
  const std::string& file = args.Positionals()[0];
  const int loaded = hex.LoadFromPackage(file, uint64_t(offset.value_or(0)));
  port.RunPending();
  if (loaded == kHexCannotOpen) return Fail("cannot open " + file);
  if (loaded != kHexLoaded) return Fail("no usable HEX text in " + file);

  const Bytes packed = hex.Packed();
  if (!WriteFile(*imagePath, packed.data(), packed.size())) return Fail("cannot write " + *imagePath);

  const uint32_t base = uint32_t(origin.value_or(0));
  const size_t wanted = tableLength ? size_t(*tableLength) : hex.Segments().size() * kSegmentEntrySize;
  Bytes table(wanted);
  const size_t tableBytes = hex.BuildSegmentTable(table, wanted, base);
  if (auto tablePath = args.Value("table"); tablePath && !WriteFile(*tablePath, table.data(), tableBytes))
    return Fail("cannot write " + *tablePath);

  std::cout << Format("%zu segment(s), packed image %zu bytes, segment table %zu bytes\n",
                      hex.Segments().size(), packed.size(), tableBytes);
  for (size_t i = 0; i < hex.Segments().size(); ++i) {
    const ImageSegment& s = hex.Segments()[i];
    std::cout << Format("  %3zu  packed 0x%08X  start 0x%08X  length 0x%08X  flash 0x%08X\n", i,
                        s.packedOffset, s.start, s.length, s.packedOffset + base);
  }
  return 0;
}

LW_CLI_COMMAND(kInfo);

}  // namespace
}  // namespace lw::cli
