// loftwise-cli compress / decompress: the LZSS coding applied to arm_main images.
#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/command.h"
#include "common/text.h"
#include "engine/lzss.h"

namespace lw::cli {
namespace {

int RunCompress(const std::vector<std::string>& argv);
int RunDecompress(const std::vector<std::string>& argv);

const CommandInfo kCompress{"compress", "compress IN OUT",
                            "LZSS-compress a file exactly as an upgrade compresses arm_main images",
                            RunCompress};
const CommandInfo kDecompress{"decompress", "decompress IN OUT", "expand an LZSS-compressed file",
                              RunDecompress};

const char* kFormat =
    "Format: the public-domain LZSS coding (4,096-byte ring starting with spaces, matches of\n"
    "3 to 18 bytes, one flag byte before every eight items, a set bit marks a literal).\n";

std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

bool WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  out.close();
  return bool(out);
}

int Transform(const CommandInfo& info, const std::vector<std::string>& argv, bool compress) {
  Args args(argv, {"home"}, {"help"});
  if (args.Flag("help")) return Usage(info, kFormat);
  if (!args.ok()) return Fail(args.error());
  if (args.Positionals().size() != 2) return Fail(std::string(info.name) + " needs IN and OUT (see --help)");
  const std::string& inPath = args.Positionals()[0];
  const std::string& outPath = args.Positionals()[1];
  const auto input = ReadFile(inPath);
  if (!input) return Fail("cannot read " + inPath);

  Bytes output;
  if (compress) {
    output = LzssCompress(*input);
  } else {
    // No item expands to more than 18 bytes per 2 bytes of stream, so this bound is never
    // reached by a real stream; it only stops a damaged one.
    auto expanded = LzssDecompress(*input, input->size() * 9 + 16);
    if (!expanded) return Fail(inPath + " is not a complete LZSS stream (it ends inside a reference)");
    output = std::move(*expanded);
  }
  if (!WriteFile(outPath, output)) return Fail("cannot write " + outPath);
  std::cout << Format("%s: %zu bytes -> %zu bytes\n", inPath.c_str(), input->size(), output.size());
  return 0;
}

int RunCompress(const std::vector<std::string>& argv) { return Transform(kCompress, argv, true); }
int RunDecompress(const std::vector<std::string>& argv) { return Transform(kDecompress, argv, false); }

LW_CLI_COMMAND(kCompress);
LW_CLI_COMMAND(kDecompress);

}  // namespace
}  // namespace lw::cli
