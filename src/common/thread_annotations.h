// Lock annotations for Clang's thread-safety analysis (-Wthread-safety, on in every clang
// build), and a mutex and scoped lock that carry them: a member marked LW_GUARDED_BY(m) may
// only be touched with m held, and the clang build refuses code that does otherwise. Other
// compilers see plain std::mutex code.
#pragma once

#include <mutex>

#if defined(__clang__)
#define LW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LW_THREAD_ANNOTATION(x)
#endif

#define LW_CAPABILITY(x) LW_THREAD_ANNOTATION(capability(x))
#define LW_SCOPED_CAPABILITY LW_THREAD_ANNOTATION(scoped_lockable)
#define LW_GUARDED_BY(x) LW_THREAD_ANNOTATION(guarded_by(x))
#define LW_PT_GUARDED_BY(x) LW_THREAD_ANNOTATION(pt_guarded_by(x))
#define LW_REQUIRES(...) LW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define LW_EXCLUDES(...) LW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define LW_ACQUIRE(...) LW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define LW_RELEASE(...) LW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define LW_TRY_ACQUIRE(...) LW_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define LW_NO_THREAD_SAFETY_ANALYSIS LW_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace lw {

class LW_CAPABILITY("mutex") Mutex {
 public:
  void lock() LW_ACQUIRE() { mutex_.lock(); }
  void unlock() LW_RELEASE() { mutex_.unlock(); }
  bool try_lock() LW_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope. A std::condition_variable_any waits on it directly (it unlocks
// and relocks through lock() and unlock()).
class LW_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) LW_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() LW_RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() LW_ACQUIRE() { mutex_.lock(); }
  void unlock() LW_RELEASE() { mutex_.unlock(); }

 private:
  Mutex& mutex_;
};

}  // namespace lw
