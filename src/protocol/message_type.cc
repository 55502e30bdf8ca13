#include "protocol/message_type.h"

namespace quill {
namespace protocol {
namespace {

constexpr const char* kNames[] = {
    "auth",          "sync",       "getmailbrief", "getmailbody", "delvmail",     "getmailattach",
    "getupdatepack", "getmailimg", "queryupdate",  "statinfo",    "sendlongmail",
};
constexpr uint16_t kFirst = 101;
constexpr uint16_t kCount = sizeof(kNames) / sizeof(kNames[0]);

}  // namespace

const char* CommandName(uint16_t type) {
  return type >= kFirst && type < kFirst + kCount ? kNames[type - kFirst] : nullptr;
}

bool MessageTypeOfCommand(std::string_view name, MessageType* type) {
  for (uint16_t i = 0; i < kCount; ++i) {
    if (name == kNames[i]) {
      *type = static_cast<MessageType>(kFirst + i);
      return true;
    }
  }
  return false;
}

std::string CommandPath(MessageType type) {
  return std::string(kCommandPathPrefix) + CommandName(static_cast<uint16_t>(type));
}

}  // namespace protocol
}  // namespace quill
