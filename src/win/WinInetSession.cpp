#include <windows.h>
#include "win/WinInetSession.h"

#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::win {

bool WinInetSession::Open(const std::string& agent) {
  const std::wstring a = Widen(agent);
  session_ = InternetOpenW(agent.empty() ? nullptr : a.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session_ && timeoutMs_ > 0) {
    DWORD ms = static_cast<DWORD>(timeoutMs_);
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
      InternetSetOptionW(session_, option, &ms, sizeof ms);
  }
  return session_ != nullptr;
}

bool WinInetSession::Connect(const std::string& host, const std::string& user, const std::string& password) {
  if (!session_) return false;
  connection_ = InternetConnectW(session_, Widen(host).c_str(), INTERNET_DEFAULT_HTTP_PORT, Widen(user).c_str(),
                                 Widen(password).c_str(), INTERNET_SERVICE_HTTP, 0, 0);
  return connection_ != nullptr;
}

bool WinInetSession::OpenRequest(const std::string& verb, const std::string& path, const std::string& version,
                                 const std::string& referrer, const std::string& acceptType, bool reload) {
  if (!connection_) return false;
  const std::wstring accept = Widen(acceptType);
  const wchar_t* acceptTypes[] = {accept.c_str(), nullptr};
  const std::wstring ref = Widen(referrer);
  request_ = HttpOpenRequestW(connection_, Widen(verb).c_str(), Widen(path).c_str(), Widen(version).c_str(),
                              referrer.empty() ? nullptr : ref.c_str(), acceptTypes,
                              reload ? INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE : 0, 0);
  return request_ != nullptr;
}

bool WinInetSession::Send(const std::string& header, const std::string& body) {
  if (!request_) return false;
  const std::wstring h = Widen(header);
  return HttpSendRequestW(request_, header.empty() ? nullptr : h.c_str(), static_cast<DWORD>(h.size()),
                          body.empty() ? nullptr : const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size())) != FALSE;
}

bool WinInetSession::QueryStatusCode(int& code) {
  if (!request_) return false;
  DWORD status = 0, size = sizeof status, index = 0;
  if (!HttpQueryInfoW(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index)) {
    return false;
  }
  code = static_cast<int>(status);
  return true;
}

bool WinInetSession::QueryContentLength(std::string& text) {
  if (!request_) return false;
  wchar_t buffer[512] = {};  // 1024 bytes
  DWORD size = sizeof buffer, index = 0;
  if (!HttpQueryInfoW(request_, HTTP_QUERY_CONTENT_LENGTH, buffer, &size, &index)) return false;
  text = Narrow(std::wstring_view(buffer, size / sizeof(wchar_t)));
  return true;
}

bool WinInetSession::Read(void* buffer, size_t count, size_t& got) {
  if (!request_) return false;
  DWORD n = 0;
  if (!InternetReadFile(request_, buffer, static_cast<DWORD>(count), &n)) return false;
  got = n;
  return true;
}

void WinInetSession::Close() {
  for (HINTERNET* h : {&request_, &connection_, &session_}) {
    if (*h) InternetCloseHandle(*h);
    *h = nullptr;
  }
}

void WinTargetFile::Create(const std::string& path) {
  Close();
  file_ = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    throw FileError(FileErrorText(code), code);
  }
}

void WinTargetFile::Write(const void* data, size_t count) {
  DWORD written = 0;
  DWORD code = ERROR_WRITE_FAULT;  // nothing open, or a short write
  if (file_ != INVALID_HANDLE_VALUE) {
    if (!WriteFile(file_, data, static_cast<DWORD>(count), &written, nullptr)) code = GetLastError();
    if (written == count) return;
  }
  throw FileError(FileErrorText(code), code);
}

void WinTargetFile::Close() {
  if (file_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

}  // namespace sk::win
