// The catalogue of protocol messages. A request and its response share the
// number; each command is posted to "/cgi-bin/rb-bin/" + its name.
#ifndef QUILL_PROTOCOL_MESSAGE_TYPE_H_
#define QUILL_PROTOCOL_MESSAGE_TYPE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quill {
namespace protocol {

enum class MessageType : uint16_t {
  Auth = 101,
  Sync = 102,
  GetMailBrief = 103,
  GetMailBody = 104,
  DelvMail = 105,
  GetMailAttach = 106,
  GetUpdatePack = 107,
  GetMailImg = 108,
  QueryUpdate = 109,
  StatInfo = 110,
  SendLongMail = 111,
};

constexpr char kCommandPathPrefix[] = "/cgi-bin/rb-bin/";

// The command name ("auth"), or null for a number outside the catalogue.
const char* CommandName(uint16_t type);
// The message type of a command name; false when there is none.
bool MessageTypeOfCommand(std::string_view name, MessageType* type);
// "/cgi-bin/rb-bin/" + name.
std::string CommandPath(MessageType type);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_MESSAGE_TYPE_H_
