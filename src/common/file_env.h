// The file operations behind the program's durable writes (backups, set.ini, result files:
// WriteFileAtomically and WriteAll) and the held package's reads (HeldFile), as one small
// interface, so that tests and the soak can make the disk fail where a real one can: a write
// that finds the disk full, an fsync or a rename that fails, a read error.
//
// Files() is the one in use: the real one (plain POSIX calls), unless a test installed another
// with ScopedFileEnv for a while. The functions keep the POSIX contract: -1 with errno set.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace lw {

class FileEnv {
 public:
  virtual ~FileEnv() = default;
  // open(2) of a file to read (the held package and its extern files).
  virtual int OpenForReading(const std::string& path);
  // mkostemp(3) with O_CLOEXEC: makes the temporary file of an atomic write.
  virtual int CreateTemporary(std::string& pathTemplate);
  virtual ssize_t Write(int fd, const void* data, size_t size);
  virtual ssize_t Pread(int fd, void* data, size_t size, off_t offset);
  virtual int Fsync(int fd);
  virtual int Rename(const std::string& from, const std::string& to);
};

// The file environment in use.
FileEnv& Files();

// Installs `env` as Files() until it goes out of scope (tests only; one at a time).
class ScopedFileEnv {
 public:
  explicit ScopedFileEnv(FileEnv& env);
  ~ScopedFileEnv();
  ScopedFileEnv(const ScopedFileEnv&) = delete;
  ScopedFileEnv& operator=(const ScopedFileEnv&) = delete;

 private:
  FileEnv* previous_;
};

// A file environment that fails on purpose: the n-th call (counted from 1, per rule) of an
// operation on a file whose path holds `pathPart` fails with `error`; a short write writes half
// of that call, and every later write to the file finds the disk full. Only files this
// environment opened are counted (never a socket); everything else goes to the real calls.
class FaultyFileEnv : public FileEnv {
 public:
  enum class Op { Open, Create, Write, ShortWrite, Pread, Fsync, Rename };
  struct Rule {
    Op op = Op::Write;
    uint32_t nth = 1;
    int error = 5;  // EIO
    std::string pathPart;
  };
  explicit FaultyFileEnv(std::vector<Rule> rules) : rules_(std::move(rules)) {}

  int OpenForReading(const std::string& path) override;
  int CreateTemporary(std::string& pathTemplate) override;
  ssize_t Write(int fd, const void* data, size_t size) override;
  ssize_t Pread(int fd, void* data, size_t size, off_t offset) override;
  int Fsync(int fd) override;
  int Rename(const std::string& from, const std::string& to) override;

  // How many faults were made.
  int faults() const { return faults_.load(); }

 private:
  // True when this call is to fail (counts it).
  bool Fails(Op op, const std::string& path);
  std::string PathOf(int fd);
  bool ShortWriteRule(const std::string& path);
  void Remember(int fd, const std::string& path);

  std::vector<Rule> rules_;
  std::mutex mutex_;
  std::map<int, std::string> paths_;  // descriptors this environment opened
  std::map<int, uint32_t> counts_;    // per rule
  std::set<int> full_;                // descriptors whose disk filled up after a short write
  std::atomic<int> faults_{0};
};

}  // namespace lw
