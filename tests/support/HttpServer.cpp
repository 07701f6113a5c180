#include <winsock2.h>
#include <windows.h>
#include "support/HttpServer.h"

#include <algorithm>

namespace sk::test {
namespace {

struct Connection {
  HttpServer* server;
  SOCKET socket;
};

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    const int n = send(s, data, static_cast<int>(std::min<size_t>(size, 65536)), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

HttpServer::HttpServer(unsigned short port) : port_(port) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) return;
  BOOL reuse = TRUE;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return;
  }
  acceptThread_ = CreateThread(nullptr, 0, AcceptProc, this, 0, nullptr);
}

HttpServer::~HttpServer() {
  stopping_ = true;
  SetEvent(stopped_);
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  if (acceptThread_) {
    WaitForSingleObject(acceptThread_, 10000);
    CloseHandle(acceptThread_);
  }
  std::vector<HANDLE> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (HANDLE h : connections) {
    WaitForSingleObject(h, 10000);
    CloseHandle(h);
  }
  CloseHandle(stopped_);
  WSACleanup();
}

void HttpServer::Hold() { WaitForSingleObject(stopped_, INFINITE); }

std::string HttpServer::Base() const {
  return port_ == 80 ? "http://127.0.0.1/" : "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void HttpServer::Serve(const std::string& path, const HttpAnswer& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[path] = answer;
}

std::vector<HttpRequestSeen> HttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int HttpServer::RequestsFor(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                        [&](const HttpRequestSeen& r) { return r.path == path; }));
}

DWORD WINAPI HttpServer::AcceptProc(void* self) {
  auto* server = static_cast<HttpServer*>(self);
  while (!server->stopping_) {
    SOCKET s = accept(server->listener_, nullptr, nullptr);
    if (s == INVALID_SOCKET) break;
    auto* c = new Connection{server, s};
    HANDLE h = CreateThread(nullptr, 0, ConnectionProc, c, 0, nullptr);
    std::lock_guard<std::mutex> lock(server->mutex_);
    server->connections_.push_back(h);
  }
  return 0;
}

DWORD WINAPI HttpServer::ConnectionProc(void* param) {
  auto* c = static_cast<Connection*>(param);
  c->server->Handle(c->socket);
  closesocket(c->socket);
  delete c;
  return 0;
}

void HttpServer::Handle(SOCKET s) {
  std::string data;
  char buffer[4096];
  size_t headerEnd;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    data.append(buffer, static_cast<size_t>(n));
  }
  HttpRequestSeen request;
  const std::string head = data.substr(0, headerEnd);
  const size_t lineEnd = head.find("\r\n");
  const std::string line = head.substr(0, lineEnd);
  const size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
  request.method = line.substr(0, sp1);
  request.path = line.substr(sp1 + 1, sp2 - sp1 - 1);
  request.version = line.substr(sp2 + 1);
  request.headers = lineEnd == std::string::npos ? "" : head.substr(lineEnd + 2);
  request.body = data.substr(headerEnd + 4);
  size_t length = 0;
  std::string lower = request.headers;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char ch) { return static_cast<char>(tolower(ch)); });
  const size_t cl = lower.find("content-length:");
  if (cl != std::string::npos) length = std::stoul(lower.substr(cl + 15));
  while (request.body.size() < length) {
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.body.append(buffer, static_cast<size_t>(n));
  }

  HttpAnswer answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    auto it = answers_.find(request.path);
    if (it != answers_.end()) {
      answer = it->second;
    } else {
      answer.status = 404;
      answer.body = "<html><body><h1>404 Not Found</h1></body></html>";
    }
  }
  if (answer.stallBeforeAnswer) return Hold();
  std::string reply = "HTTP/1.0 " + std::to_string(answer.status) + " " + Reason(answer.status) + "\r\n";
  if (answer.announceLength) {
    const long long announced = answer.announcedLength >= 0 ? answer.announcedLength
                                                            : static_cast<long long>(answer.body.size());
    reply += "Content-Length: " + std::to_string(announced) + "\r\n";
  }
  reply += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
  if (!SendAll(s, reply.data(), reply.size())) return;
  if (answer.stallAfter >= 0) {
    SendAll(s, answer.body.data(), std::min(answer.body.size(), static_cast<size_t>(answer.stallAfter)));
    return Hold();
  }
  if (answer.endless) {
    while (!stopping_ && SendAll(s, answer.body.data(), answer.body.size())) {
    }
    return;
  }
  if (answer.chunk == 0) {
    SendAll(s, answer.body.data(), answer.body.size());
  } else {
    for (size_t at = 0; at < answer.body.size() && !stopping_; at += answer.chunk) {
      Sleep(static_cast<DWORD>(answer.delayMs));
      if (!SendAll(s, answer.body.data() + at, std::min(answer.chunk, answer.body.size() - at))) return;
    }
  }
  shutdown(s, SD_SEND);
  // Let the client read to the end before the socket goes.
  while (recv(s, buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace sk::test
