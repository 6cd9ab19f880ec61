// TestHttpServer: a small HTTP/1.1 server for tests, running on a thread of
// the test's own process and listening on 127.0.0.1 at a port the system
// picks. It answers GET (and HEAD) requests from a table of paths, one
// connection at a time, and closes every connection after its response.
//
//   TestHttpServer server;                       // listening once started()
//   server.Serve("/update.zip", {200, bytes});   // body as given
//   URLDownloadToFileA(..., server.Url("/update.zip").c_str(), ...);
//   server.RequestCount();                       // 1
//
// Responses are looked up by the path without its query, so "?run=2" can
// defeat caches. A path without an entry gets 404 with a short HTML page. The server stops
// by itself after maxLifetimeMs (scaled, testing/time_scale.h), so a
// forgotten one cannot outlive its test for long; Stop() (also run by the
// destructor) ends it at once and joins the thread, cutting off a response
// in progress. Responses can also answer ranges, change from one request to
// the next, break off or stall (for the downloader's resume and retries).
#ifndef TESTING_HTTP_SERVER_H_
#define TESTING_HTTP_SERVER_H_

#include <winsock2.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct TestHttpResponse {
  int status = 200;               // 200, 404, ...
  std::string body;               // sent as is
  bool sendContentLength = true;  // false: the end of the body is the close
  size_t bytesPerSecond = 0;      // 0: as fast as the socket takes it
  std::string contentType = "application/zip";
  std::string etag = "";          // sent as ETag when not empty
  std::string extraHeaders = "";  // whole lines ("Retry-After: 1\r\n"), sent as they are
  // Range: bytes=N- is answered with 206 and the rest of the body, unless
  // If-Range names another ETag (then 200 and the whole body, as servers do).
  bool honourRange = false;
  // The connection is closed (cutAfter) or left silent until the client
  // closes it (stallAfter) once this many bytes of the body have gone out.
  size_t cutAfter = SIZE_MAX;
  size_t stallAfter = SIZE_MAX;

  // 404 with a small HTML page as body, as web servers answer.
  static TestHttpResponse NotFound();
};

class TestHttpServer {
 public:
  explicit TestHttpServer(uint32_t maxLifetimeMs = 120000);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  // False when the socket could not be set up (then nothing listens).
  bool started() const { return m_port != 0; }
  uint16_t port() const { return m_port; }
  // "http://127.0.0.1:<port><path>"; path starts with '/'.
  std::string Url(const std::string& path) const;

  // Sets (or replaces) the response for path; safe while the server runs.
  void Serve(const std::string& path, const TestHttpResponse& response);
  // The n-th request for path from now on gets responses[n]; the last one
  // answers every request after that.
  void ServeInTurn(const std::string& path, const std::vector<TestHttpResponse>& responses);

  // Ends the server thread; idempotent. The port is closed afterwards, so
  // connecting to it is refused.
  void Stop();

  // Requests received so far and their paths (query included), in order.
  int RequestCount() const;
  std::vector<std::string> RequestPaths() const;
  // The Range and If-Range headers of each request, in order ("" when absent).
  std::vector<std::pair<std::string, std::string>> RequestRanges() const;
  // Body bytes written to clients so far, over all requests.
  size_t BodyBytesSent() const;

 private:
  void Run(uint32_t maxLifetimeMs);
  void Answer(SOCKET client);
  // Adds the bytes it sent to *sent when sent is not null.
  bool SendAll(SOCKET client, const char* data, size_t size, size_t bytesPerSecond,
               size_t* sent = nullptr);
  // Waits until the client closes the connection (or Stop).
  void WaitForClose(SOCKET client);

  SOCKET m_listener = INVALID_SOCKET;
  uint16_t m_port = 0;
  bool m_wsaStarted = false;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  mutable std::mutex m_mutex;  // guards the members below
  std::map<std::string, std::vector<TestHttpResponse>> m_responses;
  std::map<std::string, size_t> m_answered;  // requests answered per path since it was set
  std::vector<std::string> m_requestPaths;
  std::vector<std::pair<std::string, std::string>> m_requestRanges;
  size_t m_bodyBytesSent = 0;
};

#endif  // TESTING_HTTP_SERVER_H_
