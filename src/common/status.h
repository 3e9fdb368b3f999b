// Status and Result<T>: how a routine inside the program says that it failed and why.
//
// A Status is ok (code 0, no message) or an error: a non-zero code and a one-line message
// ready to show or log. A Result<T> holds either a T or an error Status, like std::expected.
// The integer codes that leave the program (report codes, exit statuses, common/codes.h) stay
// what they are; a Status only carries one of them when its caller needs the number.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace lw {

class [[nodiscard]] Status {
 public:
  // The code of an error made without a code of its own.
  static constexpr int kFailed = -1;

  Status() = default;
  static Status Ok() { return Status(); }
  // A zero `code` would read as success, so it becomes kFailed.
  static Status Error(int code, std::string message) { return Status(code == 0 ? kFailed : code, std::move(message)); }
  static Status Error(std::string message) { return Status(kFailed, std::move(message)); }

  bool ok() const { return code_ == 0; }
  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Status(int code, std::string message) : code_(code), message_(std::move(message)) {}

  int code_ = 0;
  std::string message_;
};

template <typename T>
class [[nodiscard]] Result {
  static_assert(!std::is_same_v<std::decay_t<T>, Status>, "a Result holds a value, not a Status");

 public:
  // A value or an error converts implicitly, as with std::expected.
  Result(T value) : value_(std::move(value)) {}
  template <typename U,
            typename = std::enable_if_t<std::is_constructible_v<T, U&&> && !std::is_same_v<std::decay_t<U>, Status> &&
                                        !std::is_same_v<std::decay_t<U>, Result>>>
  Result(U&& value) : value_(std::in_place, std::forward<U>(value)) {}
  // An ok Status carries no value, so a Result made from one is an error rather than a
  // success that holds nothing.
  Result(Status status)
      : status_(status.ok() ? Status::Error("a result was made from a success without a value") : std::move(status)) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // Ok when there is a value, else the error.
  const Status& status() const { return status_; }

  // The value; reading it from an error is a programming fault and ends the program.
  T& value() & {
    Check();
    return *value_;
  }
  const T& value() const& {
    Check();
    return *value_;
  }
  T&& value() && {
    Check();
    return std::move(*value_);
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  // The value, or `fallback` for an error.
  T value_or(T fallback) const& { return value_ ? *value_ : std::move(fallback); }
  T value_or(T fallback) && { return value_ ? std::move(*value_) : std::move(fallback); }

 private:
  void Check() const {
    if (value_) return;
    std::fprintf(stderr, "Result: value read from an error: %s\n", status_.message().c_str());
    std::abort();
  }

  std::optional<T> value_;
  Status status_;
};

}  // namespace lw
