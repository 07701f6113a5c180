// A function of a loaded module looked up by name, as the function pointer
// type the caller names; null when the module does not export it.
#pragma once
#include <windows.h>

namespace sk::win {

template <class Function>
Function ProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace sk::win
