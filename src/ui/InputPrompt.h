// The one-line input prompt: a prompt line, one edit field, OK and Cancel,
// shown modally over its owner.
#pragma once
#include <string>

#include "ui/Window.h"

namespace sk::ui {

class InputPrompt : public Window {
 public:
  static constexpr const wchar_t* kClassName = L"TInputPrompt";

  // Shows the prompt with `value` in the field; the owner is disabled while
  // it runs. On OK `value` becomes the field's text and the result is true;
  // on Cancel or close it is left alone and the result is false.
  bool Execute(HWND owner, const std::string& caption, const std::string& prompt, std::string& value);

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  enum class State { Running, Confirmed, Cancelled };
  State state_ = State::Running;
};

// Runs a fresh prompt: true and the typed text on OK.
bool InputQuery(HWND owner, const std::string& caption, const std::string& prompt, std::string& value);

}  // namespace sk::ui
