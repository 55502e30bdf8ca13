#include "tools/wire_tool.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "platform/hex.h"
#include "protocol/cipher_layer.h"
#include "protocol/envelope.h"
#include "protocol/field_reader.h"
#include "protocol/message_type.h"
#include "protocol/tag_codec.h"
#include "protocol/wire_message.h"

namespace quill {
namespace {

using protocol::TagCodec;

constexpr int kMaxDepth = 32;  // nested images deeper than this print as hex

struct Options {
  std::string command;
  std::string key;
  bool has_key = false;
  bool raw = false;
  bool compact = false;
  std::string file;  // empty: stdin
};

class Failure {
 public:
  explicit Failure(std::ostream& err) : err_(err) {}
  int operator()(const std::string& message) {
    err_ << "quillpost-wire: " << message << "\n";
    return 1;
  }

 private:
  std::ostream& err_;
};

bool ParseArgs(const std::vector<std::string>& args, Options* o, std::string* error) {
  if (args.empty()) {
    *error = "missing command (decode, unpack, seal, open, unwrap)";
    return false;
  }
  o->command = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--raw") {
      o->raw = true;
    } else if (a == "--compact") {
      o->compact = true;
    } else if (a == "--key") {
      if (i + 1 >= args.size()) {
        *error = "--key needs a text";
        return false;
      }
      o->key = args[++i];
      o->has_key = true;
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else if (i + 1 == args.size()) {
      o->file = a;
    } else {
      *error = "unexpected argument " + a;
      return false;
    }
  }
  const bool keyed = o->command == "seal" || o->command == "open" || o->command == "unwrap";
  if (!keyed && o->command != "decode" && o->command != "unpack") {
    *error = "unknown command " + o->command;
    return false;
  }
  if (keyed && (!o->has_key || o->key.empty())) {
    *error = o->command + " needs --key TEXT";
    return false;
  }
  if (o->compact && o->command != "decode") {
    *error = "--compact applies to decode only";
    return false;
  }
  return true;
}

bool ReadInput(const Options& o, std::istream& in, Bytes* bytes, std::string* error) {
  std::string text;
  if (o.file.empty()) {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    std::ifstream f(o.file, std::ios::binary);
    if (!f) {
      *error = "cannot read " + o.file;
      return false;
    }
    text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  if (o.raw) {
    bytes->assign(text.begin(), text.end());
    return true;
  }
  size_t at = 0;
  if (!HexDecode(text, bytes, &at)) {
    *error = "input is not hexadecimal text at character " + std::to_string(at);
    return false;
  }
  return true;
}

bool IsPrintableUtf8(ByteView v) {
  if (v.empty()) return false;
  size_t i = 0;
  while (i < v.size) {
    const uint8_t b = v.data[i];
    int extra = 0;
    if (b < 0x80) {
      if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return false;
      if (b == 0x7F) return false;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (v.size - i - 1 < static_cast<size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((v.data[i + k] & 0xC0) != 0x80) return false;
    }
    i += 1 + extra;
  }
  return true;
}

std::string Quoted(ByteView v) {
  std::string s = "\"";
  for (uint8_t b : v) {
    if (b == '"' || b == '\\') {
      s += '\\';
      s += static_cast<char>(b);
    } else if (b == '\n') {
      s += "\\n";
    } else if (b == '\r') {
      s += "\\r";
    } else if (b == '\t') {
      s += "\\t";
    } else {
      s += static_cast<char>(b);
    }
  }
  return s + "\"";
}

int32_t ReadInt(const uint8_t* p, uint8_t mode) {
  const uint32_t v = mode == protocol::FixedMode
                         ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
                         : uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
  return static_cast<int32_t>(v);
}

bool IsImage(ByteView v) {
  return v.size >= 12 && v.data[0] == TagCodec::kMagic &&
         TagCodec::Validate(v.data, static_cast<int64_t>(v.size)) == protocol::CodecOk;
}

// Prints the fields of a valid image, one per line, indented by depth.
void PrintTree(ByteView image, int depth, std::ostream& out) {
  const uint8_t mode = image.data[1];
  protocol::FieldReader reader(image.data, image.size, mode);
  protocol::FieldInfo f;
  const std::string indent(static_cast<size_t>(2 * depth), ' ');
  while (reader.Next(&f)) {
    const ByteView v(image.data + f.value, f.length);
    out << indent << f.tag << " [" << f.length << "] ";
    if (depth < kMaxDepth && IsImage(v)) {
      out << "codec mode " << int{v.data[1]} << "\n";
      PrintTree(v, depth + 1, out);
    } else if (f.length == 4) {
      out << ReadInt(v.data, mode) << "\n";
    } else if (IsPrintableUtf8(v)) {
      out << Quoted(v) << "\n";
    } else {
      out << "hex " << HexEncode(v) << "\n";
    }
  }
}

// {tag:value tag:{...}}: the form the gateway's logs and tests use.
void PrintCompact(ByteView image, int depth, std::ostream& out) {
  const uint8_t mode = image.data[1];
  protocol::FieldReader reader(image.data, image.size, mode);
  protocol::FieldInfo f;
  out << "{";
  bool first = true;
  while (reader.Next(&f)) {
    const ByteView v(image.data + f.value, f.length);
    out << (first ? "" : " ") << f.tag << ":";
    first = false;
    if (depth < kMaxDepth && IsImage(v)) {
      PrintCompact(v, depth + 1, out);
    } else if (f.length == 4) {
      out << ReadInt(v.data, mode);
    } else if (IsPrintableUtf8(v)) {
      out << Quoted(v);
    } else {
      out << "0x" << HexEncode(v);
    }
  }
  out << "}";
}

// Checks an image and names its first fault.
bool CheckImage(ByteView image, const std::string& what, std::string* error, size_t base = 0) {
  TagCodec::Fault fault;
  if (TagCodec::Validate(image.data, static_cast<int64_t>(image.size), &fault) == protocol::CodecOk) {
    return true;
  }
  *error = what + ": " + fault.what + " at offset " + std::to_string(base + fault.offset);
  return false;
}

int PrintMessage(ByteView packed, std::ostream& out, Failure& fail) {
  if (packed.size < protocol::PacketHeader::kSize) {
    return fail("packed message shorter than the 32-byte header (" + std::to_string(packed.size) + " bytes)");
  }
  protocol::PacketHeader h;
  std::copy(packed.data, packed.data + protocol::PacketHeader::kSize, h.mutable_data());
  if (!protocol::PacketHeader::ChecksumMatches(packed.data)) {
    return fail("header checksum mismatch at offset 10");
  }
  if (h.BodyLength() > packed.size - protocol::PacketHeader::kSize) {
    return fail("header says " + std::to_string(h.BodyLength()) + " body bytes, " +
                std::to_string(packed.size - protocol::PacketHeader::kSize) + " follow at offset 32");
  }
  const char* name = protocol::CommandName(h.GetType());
  out << "type " << h.GetType() << " (" << (name ? name : "unknown") << ")\n"
      << "uin " << h.GetUin() << "\n"
      << "flag " << int{h.GetFlag()} << "\n"
      << "header length " << int{packed.data[3]} << "\n"
      << "body length " << h.BodyLength() << "\n"
      << "header checksum 0x" << HexEncode(ByteView(packed.data + 10, 2)) << "\n";
  const ByteView framed(packed.data + protocol::PacketHeader::kSize, h.BodyLength());
  if (framed.size == 0 || framed.size == 2) {
    out << "body empty\n";
    return 0;
  }
  if (framed.size == 1 || framed.data[0] != 0xBE || framed.data[framed.size - 1] != 0xED) {
    return fail("body frame bytes BE..ED missing at offset 32");
  }
  const ByteView image(framed.data + 1, framed.size - 2);
  std::string error;
  if (!CheckImage(image, "body", &error, protocol::PacketHeader::kSize + 1)) return fail(error);
  out << "body checksum 0x" << HexEncode(ByteView(image.data + 2, 2)) << " (little-endian)\n";
  PrintTree(image, 0, out);
  return 0;
}

}  // namespace

int RunWireTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err) {
  Failure fail(err);
  Options o;
  std::string error;
  if (!ParseArgs(args, &o, &error)) return fail(error);
  Bytes input;
  if (!ReadInput(o, in, &input, &error)) return fail(error);
  const ByteView key(o.key);

  if (o.command == "decode") {
    if (!CheckImage(input, "codec image", &error)) return fail(error);
    if (o.compact) {
      PrintCompact(input, 0, out);
      out << "\n";
    } else {
      out << "codec mode " << int{input[1]} << ", " << input.size() << " bytes\n";
      PrintTree(input, 0, out);
    }
    return 0;
  }
  if (o.command == "unpack") return PrintMessage(input, out, fail);

  Bytes result;
  int version = 0;
  if (o.command == "seal") {
    if (protocol::SealSession(input, key, &result, ByteView()) != protocol::kEnvOk) {
      return fail("sealing failed");
    }
  } else if (o.command == "open") {
    if (!CheckImage(input, "cipher layer", &error)) return fail(error);
    const int status = protocol::OpenSession(input, key, &result, &version);
    if (status != protocol::kEnvOk) return fail("cannot open the cipher layer (status " + std::to_string(status) + ")");
  } else {  // unwrap
    if (!CheckImage(input, "response wrapper", &error)) return fail(error);
    int32_t code = 0;
    const int status = protocol::UnwrapResponse(&input, key, nullptr, &code);
    if (status != protocol::kEnvOk) return fail("cannot unwrap the response (status " + std::to_string(status) + ")");
    if (code != 0) {
      out << "result " << code << " (session key expired)\n";
      return 0;
    }
    return PrintMessage(input, out, fail);
  }
  out << HexEncode(result) << "\n";
  return 0;
}

}  // namespace quill
