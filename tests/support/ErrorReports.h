// The program's error reports taken instead of shown as boxes, for the tests
// that drive its windows: while one of these lives, every report either goes
// into a list the test checks, or fails the running test unless it is one
// the test expects.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "ui/Window.h"

namespace sk::test {

class ErrorReports {
 public:
  // Every report goes into `into`, for the test to check.
  explicit ErrorReports(std::vector<std::string>& into) : into_(&into) { Collect(); }
  // Every report fails the test, except one of `expected` (any number of
  // times): a window test never lets a report it did not ask for pass.
  ErrorReports(std::initializer_list<std::string> expected = {}) : expected_(expected) { Collect(); }
  ~ErrorReports() {
    ui::SetErrorSink(nullptr);
    current_ = nullptr;
  }
  ErrorReports(const ErrorReports&) = delete;
  ErrorReports& operator=(const ErrorReports&) = delete;
  // Collect again after the boxes were let through (SetErrorSink(nullptr)).
  void Collect() {
    current_ = this;
    ui::SetErrorSink(&Add);
  }

 private:
  static void Add(const std::string& text) {
    ErrorReports* self = current_;
    if (!self) return;
    if (self->into_) {
      self->into_->push_back(text);
    } else if (std::find(self->expected_.begin(), self->expected_.end(), text) == self->expected_.end()) {
      ADD_FAILURE() << "the program reported: " << text;
    }
  }
  static inline ErrorReports* current_ = nullptr;
  std::vector<std::string>* into_ = nullptr;
  std::vector<std::string> expected_;
};

}  // namespace sk::test
