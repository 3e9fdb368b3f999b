#include "common/held_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/file_env.h"

namespace lw {

Result<HeldFile> HeldFile::Open(const std::string& path) {
  UniqueFd fd(Files().OpenForReading(path));
  if (!fd.valid()) return Status::Error("cannot open " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Status::Error("cannot read " + path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Status::Error("cannot open " + path + ": not a regular file");
  HeldFile file;
  file.fd_ = std::move(fd);
  file.path_ = path;
  file.size_ = uint64_t(st.st_size);
  file.mtimeSec_ = st.st_mtim.tv_sec;
  file.mtimeNsec_ = st.st_mtim.tv_nsec;
  return file;
}

ptrdiff_t HeldFile::ReadSome(uint64_t offset, std::span<uint8_t> out) const {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = Files().Pread(fd_.get(), out.data() + done, out.size() - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;  // the end of the file
    done += size_t(n);
  }
  return ptrdiff_t(done);
}

Status HeldFile::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  if (!fd_.valid()) return Status::Error("no file is held");
  if (offset > uint64_t(INT64_MAX) - out.size())
    return Status::Error(kEndedEarly, "the file " + path_ + " ended early while it was being burned");
  const ptrdiff_t got = ReadSome(offset, out);
  if (got < 0) return Status::Error("cannot read " + path_ + ": " + std::strerror(errno));
  if (size_t(got) < out.size())
    return Status::Error(kEndedEarly, "the file " + path_ + " ended early while it was being burned");
  return Status::Ok();
}

Status HeldFile::Unchanged() const {
  if (!fd_.valid()) return Status::Error("no file is held");
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0) return Status::Error("cannot read " + path_ + ": " + std::strerror(errno));
  if (uint64_t(st.st_size) != size_ || st.st_mtim.tv_sec != mtimeSec_ || st.st_mtim.tv_nsec != mtimeNsec_)
    return Status::Error(kChanged, "the file " + path_ + " changed while it was being burned");
  return Status::Ok();
}

}  // namespace lw
