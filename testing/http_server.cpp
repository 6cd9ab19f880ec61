#include "testing/http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "testing/time_scale.h"

namespace {

const int kPollMs = 50;
const DWORD kReceiveTimeoutMs = 5000;
const size_t kMaxRequestBytes = 16384;
const size_t kChunkBytes = 65536;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 408:
      return "Request Timeout";
    case 416:
      return "Range Not Satisfiable";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

// Waits up to kPollMs for the socket to become readable.
bool Readable(SOCKET socket) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval timeout = {0, kPollMs * 1000};
  return select(0, &set, nullptr, nullptr, &timeout) == 1;
}

// The value of the request header name (given in lower case, with the
// colon), or "".
std::string HeaderValue(const std::string& request, const std::string& name) {
  std::string lower = request;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find("\r\n" + name);
  if (at == std::string::npos) return "";
  size_t start = at + 2 + name.size();
  while (start < request.size() && request[start] == ' ') ++start;
  return request.substr(start, request.find("\r\n", start) - start);
}

}  // namespace

TestHttpResponse TestHttpResponse::NotFound() {
  TestHttpResponse response;
  response.status = 404;
  response.contentType = "text/html";
  response.body =
      "<html><head><title>404 Not Found</title></head>"
      "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p>"
      "</body></html>\n";
  return response;
}

TestHttpServer::TestHttpServer(uint32_t maxLifetimeMs) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  m_wsaStarted = true;

  m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (m_listener == INVALID_SOCKET) return;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof(address);
  if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(m_listener, SOMAXCONN) != 0 ||
      getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(m_listener);
    m_listener = INVALID_SOCKET;
    return;
  }
  m_port = ntohs(address.sin_port);
  m_thread = std::thread(&TestHttpServer::Run, this, ScaledTimeout(maxLifetimeMs));
}

TestHttpServer::~TestHttpServer() {
  Stop();
  if (m_wsaStarted) WSACleanup();
}

std::string TestHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void TestHttpServer::Serve(const std::string& path, const TestHttpResponse& response) {
  ServeInTurn(path, {response});
}

void TestHttpServer::ServeInTurn(const std::string& path,
                                 const std::vector<TestHttpResponse>& responses) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_responses[path] = responses;
  m_answered[path] = 0;
}

void TestHttpServer::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_listener != INVALID_SOCKET) {
    closesocket(m_listener);
    m_listener = INVALID_SOCKET;
  }
}

int TestHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_requestPaths.size());
}

std::vector<std::string> TestHttpServer::RequestPaths() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requestPaths;
}

std::vector<std::pair<std::string, std::string>> TestHttpServer::RequestRanges() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requestRanges;
}

size_t TestHttpServer::BodyBytesSent() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bodyBytesSent;
}

void TestHttpServer::Run(uint32_t maxLifetimeMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxLifetimeMs);
  while (!m_stop && std::chrono::steady_clock::now() < deadline) {
    if (!Readable(m_listener)) continue;
    SOCKET client = accept(m_listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    Answer(client);
    closesocket(client);
  }
  // Closing here refuses later connections even before Stop() runs.
  closesocket(m_listener);
  m_listener = INVALID_SOCKET;
}

void TestHttpServer::Answer(SOCKET client) {
  DWORD timeout = kReceiveTimeoutMs;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof(timeout));
  // A client that stops reading must not hold Stop() up for long.
  setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof(timeout));

  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes) {
    if (m_stop) return;
    int received = recv(client, buffer, sizeof(buffer), 0);
    if (received <= 0) return;
    request.append(buffer, static_cast<size_t>(received));
  }

  // "GET /path HTTP/1.1"
  size_t methodEnd = request.find(' ');
  size_t pathEnd = methodEnd == std::string::npos ? methodEnd : request.find(' ', methodEnd + 1);
  if (pathEnd == std::string::npos) return;
  const std::string method = request.substr(0, methodEnd);
  const std::string path = request.substr(methodEnd + 1, pathEnd - methodEnd - 1);

  const std::string range = HeaderValue(request, "range:");
  const std::string ifRange = HeaderValue(request, "if-range:");
  TestHttpResponse response;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requestPaths.push_back(path);
    m_requestRanges.emplace_back(range, ifRange);
    const std::string key = path.substr(0, path.find('?'));
    auto found = m_responses.find(key);
    if (found != m_responses.end() && !found->second.empty()) {
      const size_t turn = m_answered[key]++;
      response = found->second[std::min(turn, found->second.size() - 1)];
    } else {
      response = TestHttpResponse::NotFound();
    }
  }

  // "bytes=N-" on a body longer than N, for this very body.
  std::string contentRange;
  const size_t size = response.body.size();
  if (response.honourRange && response.status == 200 && range.rfind("bytes=", 0) == 0 &&
      range.back() == '-' && (ifRange.empty() || ifRange == response.etag)) {
    const size_t first = std::strtoull(range.c_str() + 6, nullptr, 10);
    if (first < size) {
      response.status = 206;
      response.body = response.body.substr(first);
      contentRange = "bytes " + std::to_string(first) + "-" + std::to_string(size - 1) + "/" +
                     std::to_string(size);
    }
  }

  std::string head =
      "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
  head += "Content-Type: " + response.contentType + "\r\n";
  if (response.sendContentLength) {
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  if (!contentRange.empty()) head += "Content-Range: " + contentRange + "\r\n";
  if (!response.etag.empty()) head += "ETag: " + response.etag + "\r\n";
  head += response.extraHeaders;
  head += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
  if (!SendAll(client, head.data(), head.size(), 0)) return;
  if (method == "HEAD") {
    shutdown(client, SD_SEND);
    return;
  }
  const size_t sendable = std::min({response.body.size(), response.cutAfter, response.stallAfter});
  size_t sent = 0;
  const bool whole =
      SendAll(client, response.body.data(), sendable, response.bytesPerSecond, &sent);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bodyBytesSent += sent;
  }
  if (whole && sendable < response.body.size() && response.stallAfter == sendable) {
    WaitForClose(client);
    return;
  }
  shutdown(client, SD_SEND);
}

void TestHttpServer::WaitForClose(SOCKET client) {
  char buffer[256];
  while (!m_stop) {
    if (!Readable(client)) continue;
    const int received = recv(client, buffer, sizeof(buffer), 0);
    if (received == 0) return;
    if (received < 0 && WSAGetLastError() != WSAETIMEDOUT) return;
  }
}

bool TestHttpServer::SendAll(SOCKET client, const char* data, size_t size, size_t bytesPerSecond,
                             size_t* sentCount) {
  const auto start = std::chrono::steady_clock::now();
  // Throttled bodies go out in about twenty pieces a second.
  const size_t chunk = bytesPerSecond == 0 ? kChunkBytes : std::max<size_t>(1, bytesPerSecond / 20);
  size_t sent = 0;
  while (sent < size) {
    if (m_stop) return false;
    if (bytesPerSecond != 0) {
      // Wait until the rate allows the bytes sent so far plus this piece.
      const auto due =
          start + std::chrono::milliseconds(static_cast<int64_t>((sent * 1000) / bytesPerSecond));
      while (!m_stop && std::chrono::steady_clock::now() < due) Sleep(5);
    }
    int piece = static_cast<int>(std::min(chunk, size - sent));
    int written = send(client, data + sent, piece, 0);
    if (written <= 0) return false;
    sent += static_cast<size_t>(written);
    if (sentCount != nullptr) *sentCount += static_cast<size_t>(written);
  }
  return true;
}
