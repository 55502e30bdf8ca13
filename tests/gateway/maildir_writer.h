// Builds Maildir message files for the gateway tests.
#ifndef QUILL_TESTS_GATEWAY_MAILDIR_WRITER_H_
#define QUILL_TESTS_GATEWAY_MAILDIR_WRITER_H_

#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "tests/gateway/mime_writer.h"

namespace quill {
namespace gateway {

// A plain UTF-8 message.
inline std::string PlainMessage(const std::string& subject, const std::string& from,
                                const std::string& body,
                                const std::string& date = "Mon, 07 Dec 2026 10:00:00 +0000") {
  return "From: " + from + "\r\nTo: alice@example.com\r\nSubject: " + subject +
         "\r\nDate: " + date +
         "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: 8bit\r\n\r\n" + body;
}

// Writes `message` as maildir/relpath (e.g. "new/1.a", ".Sent/cur/2.b:2,S").
inline void Deliver(const std::string& maildir, const std::string& relpath,
                    const std::string& message) {
  const std::string path = maildir + "/" + relpath;
  ASSERT_TRUE(DefaultFileSystem()->MakeDirs(DirName(path)));
  ASSERT_TRUE(DefaultFileSystem()->ReplaceAtomically(path, ByteView(message)));
}

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_TESTS_GATEWAY_MAILDIR_WRITER_H_
