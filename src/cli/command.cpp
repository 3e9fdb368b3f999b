#include "cli/command.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace lw::cli {

Args::Args(const std::vector<std::string>& argv, std::vector<std::string> valueOptions,
           std::vector<std::string> flagOptions) {
  auto takesValue = [&](const std::string& n) {
    return std::find(valueOptions.begin(), valueOptions.end(), n) != valueOptions.end();
  };
  auto isFlag = [&](const std::string& n) {
    return std::find(flagOptions.begin(), flagOptions.end(), n) != flagOptions.end();
  };
  bool onlyPositionals = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (onlyPositionals || a.size() < 3 || a.compare(0, 2, "--") != 0) {
      if (a == "--") {
        onlyPositionals = true;
        continue;
      }
      positionals_.push_back(a);
      continue;
    }
    std::string name = a.substr(2);
    std::optional<std::string> inlineValue;
    if (auto eq = name.find('='); eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    if (takesValue(name)) {
      if (inlineValue) {
        values_[name].push_back(*inlineValue);
      } else if (i + 1 < argv.size()) {
        values_[name].push_back(argv[++i]);
      } else {
        error_ = "option --" + name + " needs a value";
        return;
      }
    } else if (isFlag(name) && !inlineValue) {
      flags_[name] = true;
    } else {
      error_ = "unknown option --" + name;
      return;
    }
  }
}

bool Args::Flag(const std::string& name) const { return flags_.count(name) != 0; }

std::optional<std::string> Args::Value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> Args::Values(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

std::optional<long long> Args::Number(const std::string& name) {
  auto v = Value(name);
  if (!v) return std::nullopt;
  try {
    size_t used = 0;
    long long n = std::stoll(*v, &used, 0);
    if (used == v->size()) return n;
  } catch (...) {
  }
  if (error_.empty()) error_ = "option --" + name + " needs a whole number, not \"" + *v + "\"";
  return std::nullopt;
}

namespace {
std::map<std::string, CommandInfo>& Registry() {
  static std::map<std::string, CommandInfo> registry;
  return registry;
}
}  // namespace

bool RegisterCommand(const CommandInfo& info) {
  Registry()[info.name] = info;
  return true;
}

const std::map<std::string, CommandInfo>& Commands() { return Registry(); }

int Fail(const std::string& message, int status) {
  std::cerr << "loftwise-cli: " << message << std::endl;
  return status;
}

int Usage(const CommandInfo& info, const std::string& details) {
  std::cout << "usage: loftwise-cli " << info.synopsis << "\n" << info.summary << "\n";
  if (!details.empty()) std::cout << "\n" << details;
  if (!details.empty() && details.back() != '\n') std::cout << "\n";
  return 0;
}

std::string JsonString(const std::string& text) {
  // Files we print may hold anything; invalid UTF-8 becomes U+FFFD so the output stays JSON.
  std::string out = "\"";
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      bool valid = len != 0 && i + len <= text.size();
      for (size_t k = 1; valid && k < len; ++k)
        valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
      if (valid) {
        out.append(text, i, len);
        i += len;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

}  // namespace lw::cli
