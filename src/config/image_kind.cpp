#include "config/image_kind.h"

namespace lw::kind {

bool IsKind(std::string_view name, std::string_view kind) {
  // "pic_gif package" holds "gif package"; only a name that starts with it is a gif package.
  if (kind == kGifPackage) return name.substr(0, kind.size()) == kind;
  return name.find(kind) != std::string_view::npos;
}

bool IsRxKind(std::string_view name) { return name.find(kRxMark) != std::string_view::npos; }
bool IsTxKind(std::string_view name) { return name.find(kTxMark) != std::string_view::npos; }

int MemorySelectorOf(std::string_view name) { return IsRxKind(name) ? kRxSelector : kMainSelector; }

bool IsKnownKind(std::string_view name) {
  for (std::string_view k : kAllKinds)
    if (IsKind(name, k)) return true;
  return false;
}

}  // namespace lw::kind
