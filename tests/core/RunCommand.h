// Runs a shell command for the tests that compare with outside tools.
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace sk::test {

// Runs `command`; its standard output, and its exit status in `status` (-1
// when it did not exit normally). Its standard error is dropped.
inline std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) {
    status = -1;
    return out;
  }
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int raw = pclose(p);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

}  // namespace sk::test
