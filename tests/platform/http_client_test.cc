#include "platform/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/last_error.h"

namespace quill {
namespace {

// A loopback HTTP server whose every answer is scripted: `respond` gets the
// request (head and body) and returns the raw bytes to write, or sets
// *close_now to drop the connection after writing them.
class ScriptedServer {
 public:
  using Respond = std::function<std::string(const std::string& head, const std::string& body, bool* close_now)>;

  explicit ScriptedServer(Respond respond) : respond_(std::move(respond)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    socklen_t len = sizeof(a);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    EXPECT_EQ(listen(fd_, 8), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  int port() const { return port_; }
  int connections() const { return connections_; }
  std::string last_head() const { return last_head_; }

 private:
  void Serve() {
    while (!stop_) {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      ++connections_;
      std::string buf;
      bool open = true;
      while (open && !stop_) {
        size_t end;
        while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
          char tmp[4096];
          const ssize_t n = recv(c, tmp, sizeof(tmp), 0);
          if (n <= 0) {
            open = false;
            break;
          }
          buf.append(tmp, static_cast<size_t>(n));
        }
        if (!open) break;
        const std::string head = buf.substr(0, end + 4);
        size_t length = 0;
        const size_t cl = head.find("Content-Length: ");
        if (cl != std::string::npos) length = std::stoul(head.substr(cl + 16));
        while (buf.size() < end + 4 + length) {
          char tmp[4096];
          const ssize_t n = recv(c, tmp, sizeof(tmp), 0);
          if (n <= 0) break;
          buf.append(tmp, static_cast<size_t>(n));
        }
        const std::string body = buf.substr(end + 4, length);
        buf.erase(0, end + 4 + length);
        last_head_ = head;
        bool close_now = false;
        const std::string out = respond_(head, body, &close_now);
        size_t sent = 0;
        while (sent < out.size()) {
          const ssize_t n = send(c, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<size_t>(n);
        }
        if (close_now) break;
      }
      close(c);
    }
  }

  Respond respond_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::string last_head_;  // read after the exchange, when the server is idle
};

std::string Ok(const std::string& body, int status = 200) {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// Sends `body` and reads the whole response in 4096-byte pieces.
bool Exchange(HttpConnection* c, const std::string& body, std::string* out, uint32_t* error) {
  auto r = c->OpenRequest("/cgi-bin/rb-bin/auth");
  if (!r) return false;
  out->clear();
  if (!r->Send(ByteView(body))) {
    *error = GetLastError();
    return false;
  }
  uint8_t buf[4096];
  size_t got = 0;
  do {
    if (!r->Read(buf, sizeof(buf), &got)) {
      *error = GetLastError();
      return false;
    }
    out->append(reinterpret_cast<char*>(buf), got);
  } while (got > 0);
  return true;
}

HttpOptions Fast() {
  HttpOptions o;
  o.connect_timeout_ms = 2000;
  o.send_timeout_ms = 1000;
  o.receive_timeout_ms = 1000;
  return o;
}

TEST(HttpClient, PostsBareBodyAndKeepsTheConnection) {
  ScriptedServer server([](const std::string&, const std::string& body, bool*) { return Ok("echo:" + body); });
  HttpSession session(Fast());
  auto c = session.Connect("127.0.0.1", server.port());
  ASSERT_TRUE(c);
  std::string out;
  uint32_t error = 0;
  const std::string body("\x81\x01\0\xFF", 4);
  ASSERT_TRUE(Exchange(c.get(), body, &out, &error));
  EXPECT_EQ(out, "echo:" + body);
  const std::string head = server.last_head();
  EXPECT_EQ(head.rfind("POST /cgi-bin/rb-bin/auth HTTP/1.1\r\n", 0), 0u) << head;
  for (const char* absent : {"Expect:", "Accept:", "Content-Type:", "User-Agent:"}) {
    EXPECT_EQ(head.find(absent), std::string::npos) << absent;
  }
  ASSERT_TRUE(Exchange(c.get(), "second", &out, &error));
  EXPECT_EQ(out, "echo:second");
  EXPECT_EQ(server.connections(), 1);
}

TEST(HttpClient, BodyLimitCutsAndClosesTheConnection) {
  ScriptedServer server([](const std::string&, const std::string& body, bool*) {
    return Ok(std::string(std::stoul(body), 'b'));
  });
  HttpSession session(Fast());
  auto c = session.Connect("127.0.0.1", server.port());
  std::string out;
  uint32_t error = 0;
  ASSERT_TRUE(Exchange(c.get(), "20480", &out, &error));
  EXPECT_EQ(out.size(), 20480u);
  EXPECT_EQ(server.connections(), 1);
  ASSERT_TRUE(Exchange(c.get(), "30000", &out, &error));
  EXPECT_EQ(out.size(), 20480u);
  // The cut connection is not reused: the next request starts clean.
  ASSERT_TRUE(Exchange(c.get(), "5", &out, &error));
  EXPECT_EQ(out, "bbbbb");
  EXPECT_EQ(server.connections(), 2);
}

TEST(HttpClient, ErrorStatusStillDeliversTheBody) {
  ScriptedServer server([](const std::string&, const std::string&, bool*) { return Ok("oops", 500); });
  HttpSession session(Fast());
  auto c = session.Connect("127.0.0.1", server.port());
  auto r = c->OpenRequest("/x");
  ASSERT_TRUE(r->Send(ByteView(std::string_view("q"))));
  EXPECT_EQ(r->status(), 500);
  uint8_t buf[16];
  size_t got = 0;
  ASSERT_TRUE(r->Read(buf, sizeof(buf), &got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "oops");
}

// The caller stops a transfer whose answer would come only much later: Send
// returns, as cancelled, while the server still holds the request.
TEST(HttpClient, ATransferStopsWhenTheCallerSaysSo) {
  std::mutex mu;
  std::condition_variable cv;
  bool received = false, released = false;
  ScriptedServer slow([&](const std::string&, const std::string&, bool*) {
    std::unique_lock<std::mutex> lock(mu);
    received = true;
    cv.notify_all();
    cv.wait(lock, [&] { return released; });
    return Ok("late");
  });
  HttpOptions patient;  // the transfer's own timeouts are far off
  patient.receive_timeout_ms = 60000;
  patient.send_timeout_ms = 60000;
  HttpSession session(patient);
  auto c = session.Connect("127.0.0.1", slow.port());
  auto r = c->OpenRequest("/x");
  const auto keep_going = [&] {
    std::lock_guard<std::mutex> lock(mu);
    return !received;  // stop once the server holds the request
  };
  EXPECT_FALSE(r->Send(ByteView(std::string_view("q")), keep_going));
  EXPECT_EQ(GetLastError(), kHttpErrorCancelled);
  {
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_TRUE(received);
    released = true;  // only now may the server answer
    cv.notify_all();
  }
}

TEST(HttpClient, FailuresAtEachPoint) {
  // Dropped mid-body: the send succeeded, the read fails.
  ScriptedServer dropper([](const std::string&, const std::string&, bool* close_now) {
    *close_now = true;
    return "HTTP/1.1 200 X\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'x');
  });
  HttpSession session(Fast());
  auto c = session.Connect("127.0.0.1", dropper.port());
  auto r = c->OpenRequest("/x");
  ASSERT_TRUE(r->Send(ByteView(std::string_view("q"))));
  uint8_t buf[64];
  size_t got = 0;
  EXPECT_FALSE(r->Read(buf, sizeof(buf), &got));
  EXPECT_EQ(GetLastError(), kHttpErrorConnectionAborted);

  // Closed with no answer at all: the send fails.
  ScriptedServer silent([](const std::string&, const std::string&, bool* close_now) {
    *close_now = true;
    return std::string();
  });
  auto s = session.Connect("127.0.0.1", silent.port());
  std::string out;
  uint32_t error = 0;
  EXPECT_FALSE(Exchange(s.get(), "q", &out, &error));
  EXPECT_EQ(error, kHttpErrorInvalidResponse);

  // Nothing listening: the send fails with cannot-connect.
  int port;
  {
    ScriptedServer gone([](const std::string&, const std::string&, bool*) { return std::string(); });
    port = gone.port();
  }
  auto refused = session.Connect("127.0.0.1", port);
  EXPECT_FALSE(Exchange(refused.get(), "q", &out, &error));
  EXPECT_EQ(error, kHttpErrorCannotConnect);

  EXPECT_FALSE(session.Connect("", 80));
  EXPECT_FALSE(session.Connect("127.0.0.1", 70000));
  EXPECT_FALSE(c->OpenRequest("no-slash"));
}

TEST(HttpClient, AStalledServerTimesOut) {
  std::atomic<bool> release{false};
  ScriptedServer staller([&](const std::string&, const std::string&, bool*) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Ok("late");
  });
  HttpOptions o = Fast();
  HttpSession session(o);
  auto c = session.Connect("127.0.0.1", staller.port());
  std::string out;
  uint32_t error = 0;
  EXPECT_FALSE(Exchange(c.get(), "q", &out, &error));
  EXPECT_EQ(error, kHttpErrorTimeout);
  release = true;
}

}  // namespace
}  // namespace quill
