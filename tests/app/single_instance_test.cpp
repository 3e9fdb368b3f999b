#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "app/app_test_util.h"

namespace lw {
namespace {

using test::ScratchDir;

TEST(SingleInstanceTest, ASecondInstanceIsRefusedAndBringsTheFirstToTheFront) {
  ScratchDir dir;
  std::atomic<int> raised{0};
  SingleInstance first(dir.Path("run"));
  ASSERT_TRUE(first.Claim([&] { ++raised; }));
  EXPECT_TRUE(first.held());
  EXPECT_EQ(first.error(), "");

  SingleInstance second(dir.Path("run"));
  EXPECT_FALSE(second.Claim([] {}));
  EXPECT_FALSE(second.held());
  EXPECT_TRUE(second.NotifyRunning());
  EXPECT_EQ(raised.load(), 1);

  // The exit sequence gives the place up; the next start takes it.
  first.Release();
  EXPECT_FALSE(std::filesystem::exists(first.SocketPath()));
  EXPECT_FALSE(second.NotifyRunning(std::chrono::milliseconds(200)));
  EXPECT_TRUE(second.Claim([] {}));
}

TEST(SingleInstanceTest, TheLockOfADeadProcessDoesNotBlockTheNextStart) {
  ScratchDir dir;
  // A child takes the place and dies without any exit sequence, leaving its socket file.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance crashed(dir.Path("run"));
    _exit(crashed.Claim([] {}) && crashed.held() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(std::filesystem::exists(dir.Path("run/loftwise.sock")));

  std::atomic<int> raised{0};
  SingleInstance next(dir.Path("run"));
  EXPECT_TRUE(next.Claim([&] { ++raised; }));
  SingleInstance later(dir.Path("run"));
  EXPECT_FALSE(later.Claim([] {}));
  EXPECT_TRUE(later.NotifyRunning());
  EXPECT_EQ(raised.load(), 1) << "the stale socket was replaced by a live one";
}

TEST(SingleInstanceTest, ARequestOtherThanRaiseIsNotActedOn) {
  ScratchDir dir;
  std::atomic<int> raised{0};
  SingleInstance first(dir.Path("run"));
  ASSERT_TRUE(first.Claim([&] { ++raised; }));
  // A peer that connects and sends something else (or nothing) gets no answer.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string path = first.SocketPath();
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::write(fd, "quit!\n", 6), 6);
  char buf[8];
  EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
  ::close(fd);
  EXPECT_EQ(raised.load(), 0);
  SingleInstance second(dir.Path("run"));
  EXPECT_TRUE(second.NotifyRunning()) << "the listener is still serving";
  EXPECT_EQ(raised.load(), 1);
}

TEST(SingleInstanceTest, AnUnusableRuntimeFolderDoesNotKeepTheProgramFromStarting) {
  ScratchDir dir;
  dir.Write("not-a-folder", "x");
  SingleInstance instance(dir.Path("not-a-folder"));
  EXPECT_TRUE(instance.Claim([] {}));
  EXPECT_FALSE(instance.held());
  EXPECT_NE(instance.error(), "");
}

}  // namespace
}  // namespace lw
