#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/file_env.h"
#include "common/unique_fd.h"

namespace lw {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void SyncDirectory(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

AtomicWriteResult WriteFileAtomically(const std::string& target, const AtomicWriteOptions& options,
                                      const std::function<bool(int fd)>& fill) {
  AtomicWriteResult result;
  result.temporary = options.temporaryTemplate;
  FileEnv& files = Files();
  UniqueFd out(files.CreateTemporary(result.temporary));
  auto fail = [&](AtomicWriteStep step) {
    result.failed = step;
    result.error = errno;
    if (step != AtomicWriteStep::Create) {
      out.Close();
      ::unlink(result.temporary.c_str());
    }
    errno = result.error;
    return result;
  };
  if (!out.valid()) return fail(AtomicWriteStep::Create);
  if (::fchmod(out.get(), options.mode) != 0 && options.modeRequired) return fail(AtomicWriteStep::Permissions);
  if (!fill(out.get())) return fail(AtomicWriteStep::Write);
  if (files.Fsync(out.get()) != 0) return fail(AtomicWriteStep::Flush);
  if (!out.Close()) return fail(AtomicWriteStep::Close);
  if (files.Rename(result.temporary, target) != 0) return fail(AtomicWriteStep::Rename);
  SyncDirectory(FolderOf(target));
  return result;
}

}  // namespace lw
