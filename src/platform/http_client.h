// HTTP client for the gateway exchange, over libcurl: the handle model the
// exchange is written against (session -> connection -> request: send, then
// read the body in pieces).
//
//   HttpSession     the internet session: direct, or through a proxy
//   HttpConnection  one host and port; owns one libcurl handle that is
//                   reused by its requests, so they share a kept-alive TCP
//                   connection
//   HttpRequest     one POST: Send the body, then Read the response body
//
// A response body is held up to a limit (20480 bytes by default); when a
// body is longer, or a request is closed with its body unread, the TCP
// connection is closed, so the next request never reads a stale tail.
//
// Failures set GetLastError() at the failing call to a code of the
// platform's internet error family (kHttpError*). Send fails when no
// response began (cannot resolve, connect, or send); Read fails when the
// response broke off after it began.
//
// Thread safety: one session, connection and request are used by one thread
// at a time; different connections may run on different threads.
#ifndef QUILL_PLATFORM_HTTP_CLIENT_H_
#define QUILL_PLATFORM_HTTP_CLIENT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/bytes.h"

namespace quill {

// Error codes, as the platform's internet API numbers them.
enum : uint32_t {
  kHttpErrorTimeout = 12002,
  kHttpErrorInternal = 12004,
  kHttpErrorCancelled = 12017,  // the caller stopped the transfer
  kHttpErrorNameNotResolved = 12007,
  kHttpErrorCannotConnect = 12029,
  kHttpErrorConnectionAborted = 12030,
  kHttpErrorConnectionReset = 12031,
  kHttpErrorInvalidResponse = 12152,
};

struct HttpOptions {
  long connect_timeout_ms = 30000;  // TCP connect
  long send_timeout_ms = 30000;     // no progress while sending
  long receive_timeout_ms = 30000;  // no progress while receiving
  std::string proxy;                // "host:port"; empty: direct
  size_t body_limit = 20480;        // response bytes kept; the rest is dropped
};

class HttpRequest;

class HttpConnection {
 public:
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Opens a POST request for `path`. Null (with the last error set) when the
  // connection's handle could not be made.
  std::unique_ptr<HttpRequest> OpenRequest(const std::string& path);

 private:
  friend class HttpSession;
  friend class HttpRequest;
  struct Impl;
  explicit HttpConnection(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class HttpSession {
 public:
  explicit HttpSession(HttpOptions options);

  // A connection to host:port. Nothing goes on the network until a request
  // is sent. Null when the host is empty or the port is out of range.
  std::unique_ptr<HttpConnection> Connect(const std::string& host, int port);

  const HttpOptions& options() const { return options_; }

 private:
  HttpOptions options_;  // copied into every connection
};

class HttpRequest {
 public:
  ~HttpRequest();  // an unread or cut body closes the TCP connection
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Sends the body and receives the response (at most the body limit is
  // kept). False when no response began. keep_going, when given, is asked
  // on the calling thread about once a second (more often while bytes
  // flow) for as long as the transfer runs; once it says false the
  // transfer stops and the connection is closed: Send fails with
  // kHttpErrorCancelled (Read does, when the response had begun).
  bool Send(ByteView body, const std::function<bool()>& keep_going = nullptr);

  // Copies up to `capacity` further body bytes into `buffer`; *got = 0 at
  // the end of the body (or at the limit). False, at the first call, when
  // the response broke off after it began.
  bool Read(uint8_t* buffer, size_t capacity, size_t* got);

  // HTTP status of the response; 0 before one arrived.
  long status() const { return status_; }
  // Every byte of the body went out, so the server may have acted on the
  // request even when Send or Read failed afterwards.
  bool body_delivered() const { return body_delivered_; }

 private:
  friend class HttpConnection;
  HttpRequest(HttpConnection::Impl* connection, std::string path);

  HttpConnection::Impl* connection_;  // owner; outlives the request
  std::string path_;                  // request path
  Bytes body_;                        // response bytes kept
  size_t read_ = 0;                   // bytes of body_ handed out by Read
  long status_ = 0;                   // HTTP status
  bool sent_ = false;                 // Send ran
  bool broken_ = false;               // the response broke off after it began
  bool body_delivered_ = false;       // every body byte was sent
  uint32_t broken_error_ = 0;         // the error Read reports then
};

}  // namespace quill

#endif  // QUILL_PLATFORM_HTTP_CLIENT_H_
