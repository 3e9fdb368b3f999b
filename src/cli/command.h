// loftwise-cli subcommands. Each subcommand lives in its own file (cmd_NAME.cpp) and registers
// itself with LW_CLI_COMMAND; main() dispatches on the first argument.
//
// Conventions every subcommand keeps: --help prints its usage and exits 0; a usage error or
// any other error prints one line on stderr and exits 2 unless the subcommand documents
// another status; --home DIR is accepted everywhere (the program directory).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lw::cli {

// A small argument parser: options "--name", "--name VALUE" or "--name=VALUE", everything
// else positional. Options that take a value are declared, so "--port 3" is never read as a
// flag followed by a positional.
class Args {
 public:
  // `valueOptions`: names (without "--") of options that take a value; `repeatable` ones may
  // appear more than once (Values returns them all).
  Args(const std::vector<std::string>& argv, std::vector<std::string> valueOptions,
       std::vector<std::string> flagOptions);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  bool Flag(const std::string& name) const;
  std::optional<std::string> Value(const std::string& name) const;
  std::vector<std::string> Values(const std::string& name) const;
  // A number option; sets the parser's error when the text is not a whole number.
  std::optional<long long> Number(const std::string& name);
  const std::vector<std::string>& Positionals() const { return positionals_; }

 private:
  std::map<std::string, std::vector<std::string>> values_;
  std::map<std::string, bool> flags_;
  std::vector<std::string> positionals_;
  std::string error_;
};

using CommandFn = int (*)(const std::vector<std::string>& args);

struct CommandInfo {
  const char* name;
  const char* synopsis;  // one line, e.g. "config [--json]"
  const char* summary;   // one line for the command list
  CommandFn run;
};

bool RegisterCommand(const CommandInfo& info);
const std::map<std::string, CommandInfo>& Commands();

// Prints "loftwise-cli: MESSAGE" on stderr and returns `status`.
int Fail(const std::string& message, int status = 2);
// Prints "usage: loftwise-cli SYNOPSIS" plus `details` on stdout; returns 0.
int Usage(const CommandInfo& info, const std::string& details = "");

// JSON text escaping for the --json outputs (UTF-8 passes through, controls are escaped).
std::string JsonString(const std::string& text);

}  // namespace lw::cli

#define LW_CLI_CONCAT2(a, b) a##b
#define LW_CLI_CONCAT(a, b) LW_CLI_CONCAT2(a, b)
#define LW_CLI_COMMAND(...) \
  static const bool LW_CLI_CONCAT(lw_cli_registered_, __LINE__) = ::lw::cli::RegisterCommand({__VA_ARGS__})
