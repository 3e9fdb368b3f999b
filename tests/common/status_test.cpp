#include "common/status.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace lw {
namespace {

TEST(Status, AnErrorNeverReadsAsSuccess) {
  EXPECT_TRUE(Status::Ok().ok());
  EXPECT_EQ(Status::Ok().message(), "");

  struct Case {
    Status status;
    int code;
  };
  const Case cases[] = {
      {Status::Error(-8000, "conversion failed"), -8000},
      {Status::Error(21, ""), 21},          // a report code without a text of its own
      {Status::Error(0, "zero code"), -1},  // 0 would be success
      {Status::Error("no code"), -1},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.status.ok()) << c.status.message();
    EXPECT_EQ(c.status.code(), c.code) << c.status.message();
  }
}

// Returns the value or the error, the way the converted readers do.
Result<std::vector<int>> Numbers(bool fail) {
  if (fail) return Status::Error(-2, "refused");
  return std::vector<int>{1, 2, 3};
}

TEST(Result, HoldsEitherTheValueOrTheError) {
  Result<std::vector<int>> good = Numbers(false);
  ASSERT_TRUE(good.ok());
  EXPECT_TRUE(good.status().ok());
  EXPECT_EQ(good->size(), 3u);
  EXPECT_EQ((*good)[2], 3);

  Result<std::vector<int>> bad = Numbers(true);
  ASSERT_FALSE(bad.ok());
  EXPECT_FALSE(bool(bad));
  EXPECT_EQ(bad.status().code(), -2);
  EXPECT_EQ(bad.status().message(), "refused");
  EXPECT_EQ(bad.value_or({9}), std::vector<int>{9});
  EXPECT_EQ(Numbers(false).value_or({9}), (std::vector<int>{1, 2, 3}));
}

TEST(Result, AnOkStatusWithoutAValueIsAnError) {
  Result<int> r = Status::Ok();
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(r.status().ok());
  EXPECT_NE(r.status().message(), "");
}

TEST(Result, MovesOutAValueThatCannotBeCopied) {
  Result<std::unique_ptr<int>> r = std::make_unique<int>(7);
  ASSERT_TRUE(r.ok());
  std::unique_ptr<int> taken = std::move(r).value();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(*taken, 7);

  // A pointer to a derived type converts like it would into the pointer itself.
  struct Base {
    virtual ~Base() = default;
  };
  struct Derived : Base {};
  Result<std::unique_ptr<Base>> base = std::make_unique<Derived>();
  EXPECT_TRUE(base.ok());

  Result<std::string> text = std::string(100, 'x');
  Result<std::string> moved = std::move(text);
  EXPECT_EQ(*moved, std::string(100, 'x'));
}

TEST(ResultDeathTest, ReadingTheValueOfAnErrorStopsTheProgram) {
  Result<int> r = Status::Error(9, "no answer");
  EXPECT_DEATH((void)r.value(), "no answer");
}

}  // namespace
}  // namespace lw
