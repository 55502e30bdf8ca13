// What the connection manager needs from the platform's connection
// service: configured destinations by index, establishing a connection,
// its status, waiting for a status change, and releasing it.
//
// Thread safety: implementations may be called from any thread; the
// connection manager serialises establish/status/wait/release under its
// connection lock.
#ifndef QUILL_ENGINE_CONNECTION_BACKEND_H_
#define QUILL_ENGINE_CONNECTION_BACKEND_H_

#include <cstdint>
#include <string>

namespace quill {
namespace engine {

// Connection statuses as the service reports them.
constexpr uint32_t kConnStatusConnected = 0x10;
constexpr uint32_t kConnStatusConnectionFailed = 0x21;
bool IsWaitingStatus(uint32_t status);  // 0x40, 0x41, 0x42, 0x80, 0x81

// Destination GUIDs as upper-case braced text.
inline constexpr char kDestNetWap[] = "{7022E968-5A97-4051-BC1C-C578E2FBA5D9}";
inline constexpr char kDestNetSecureWap[] = "{F28D1F74-72BE-4394-A4A7-4E296219390C}";
inline constexpr char kDestNetInternet[] = "{436EF144-B4FB-4863-A041-8F905A62C572}";
inline constexpr char kDestNetCorp[] = "{A1182988-0D73-439E-87AD-2A5B369F808B}";

struct Destination {
  std::string guid;          // braced GUID text
  std::u16string description;  // the user-visible name
};

using ConnectionHandle = uint64_t;  // 0 is none

enum class WaitResult { kSignalled, kTimeout, kFailed };

class ConnectionBackend {
 public:
  virtual ~ConnectionBackend() = default;
  // False when there is no destination with that index.
  virtual bool EnumDestination(int index, Destination* out) = 0;
  virtual bool Establish(const Destination& dest, ConnectionHandle* handle) = 0;
  virtual bool Status(ConnectionHandle handle, uint32_t* status) = 0;
  // Waits up to timeout_ms for the connection's status to change.
  virtual WaitResult WaitForChange(ConnectionHandle handle, uint32_t timeout_ms) = 0;
  virtual void Release(ConnectionHandle handle) = 0;
};

// The Linux default: one Internet destination, connected at once.
class LinuxConnectionBackend : public ConnectionBackend {
 public:
  bool EnumDestination(int index, Destination* out) override;
  bool Establish(const Destination& dest, ConnectionHandle* handle) override;
  bool Status(ConnectionHandle handle, uint32_t* status) override;
  WaitResult WaitForChange(ConnectionHandle handle, uint32_t timeout_ms) override;
  void Release(ConnectionHandle handle) override;
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_CONNECTION_BACKEND_H_
