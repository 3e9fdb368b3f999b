#include "patch/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/atomic_file.h"
#include "common/unique_fd.h"

namespace lw {
namespace {

Status Reason(const std::string& what, const std::string& path, int error) {
  return Status::Error(what + " " + path + ": " + std::strerror(error));
}

// Copies everything of `in` into `out`; on failure `failedOnRead` tells which side failed.
bool CopyContents(int in, int out, bool& failedOnRead) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      failedOnRead = true;
      return false;
    }
    if (n == 0) return true;
    if (!WriteAll(out, buffer.data(), size_t(n))) {
      failedOnRead = false;
      return false;
    }
  }
}

Result<std::string> ResolvedTarget(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return Reason("cannot find", target, errno);
  if (!S_ISLNK(st.st_mode)) return target;
  char resolved[PATH_MAX];
  if (::realpath(target.c_str(), resolved) == nullptr) return Reason("cannot follow the link", target, errno);
  return std::string(resolved);
}

}  // namespace

Status ReplaceFile(const std::string& source, const std::string& target) {
  const Result<std::string> resolved = ResolvedTarget(target);
  if (!resolved) return resolved.status();
  const std::string& path = *resolved;

  struct stat targetStat {};
  if (::stat(path.c_str(), &targetStat) != 0) return Reason("cannot find", path, errno);
  if (!S_ISREG(targetStat.st_mode)) return Status::Error(path + " is not a regular file");

  UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return Reason("cannot read", source, errno);

  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  AtomicWriteOptions options;
  options.temporaryTemplate = dir + "." + base + ".lumaret-XXXXXX";
  options.mode = targetStat.st_mode & 0777;
  bool failedOnRead = false;
  const AtomicWriteResult write =
      WriteFileAtomically(path, options, [&](int out) { return CopyContents(in.get(), out, failedOnRead); });
  switch (write.failed) {
    case AtomicWriteStep::None: return Status::Ok();
    case AtomicWriteStep::Create:
      return Reason("cannot create a temporary file in", dir.empty() ? "." : dir, write.error);
    case AtomicWriteStep::Permissions: return Reason("cannot set the permissions of", write.temporary, write.error);
    case AtomicWriteStep::Write:
      return failedOnRead ? Reason("cannot read", source, write.error)
                          : Reason("cannot write", write.temporary, write.error);
    case AtomicWriteStep::Flush:
    case AtomicWriteStep::Close: return Reason("cannot write", write.temporary, write.error);
    case AtomicWriteStep::Rename: break;
  }
  return Reason("cannot replace", path, write.error);
}

}  // namespace lw
