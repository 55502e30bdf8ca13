// How quillpost-cli reads numbers from its command line and writes mail
// fields into its line formats.
#ifndef QUILL_TOOLS_CLI_TEXT_FIELDS_H_
#define QUILL_TOOLS_CLI_TEXT_FIELDS_H_

#include <cstdint>
#include <string>

namespace quill {
namespace cli {

// A decimal number from 0 to 4294967295, nothing else.
bool ParseU32(const std::string& text, uint32_t* out);
// The MailID argument of show, mark and delete; 0 when it is not a number.
uint32_t MailIdArg(const std::string& text);
// "YYYY-MM-DD HH:MM" (UTC) of a FILETIME.
std::string FormatDate(uint64_t filetime);
// UTF-8, with tabs and line breaks (which would break the line formats)
// turned into blanks.
std::string Field(const std::u16string& text);

}  // namespace cli
}  // namespace quill

#endif  // QUILL_TOOLS_CLI_TEXT_FIELDS_H_
