// quillpost-wire: a tool for people who debug the protocol.
//
//   quillpost-wire decode [--compact] [--raw] [FILE]   codec image -> tree
//   quillpost-wire unpack [--raw] [FILE]               packed message -> header + tree
//   quillpost-wire seal --key TEXT [--raw] [FILE]      SealSession, prints hex
//   quillpost-wire open --key TEXT [--raw] [FILE]      OpenSession, prints hex
//   quillpost-wire unwrap --key TEXT [--raw] [FILE]    response body -> message tree
//
// Input is the file named last, or stdin; hex text (whitespace ignored)
// unless --raw. Bad input: one line on stderr naming what and where, exit 1.
#ifndef QUILL_TOOLS_WIRE_TOOL_H_
#define QUILL_TOOLS_WIRE_TOOL_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace quill {

// Runs the tool with argv[1..] in `args`. `in` is used when no file is named.
int RunWireTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err);

}  // namespace quill

#endif  // QUILL_TOOLS_WIRE_TOOL_H_
