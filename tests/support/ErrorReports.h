// The program's error reports collected instead of shown as boxes, for the
// tests that drive its windows: while one of these lives, every report goes
// into `into`.
#pragma once
#include <string>
#include <vector>

#include "ui/Window.h"

namespace sk::test {

class ErrorReports {
 public:
  explicit ErrorReports(std::vector<std::string>& into) : into_(into) { Collect(); }
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
    if (current_) current_->into_.push_back(text);
  }
  static inline ErrorReports* current_ = nullptr;
  std::vector<std::string>& into_;
};

}  // namespace sk::test
