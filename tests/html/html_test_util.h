// Shared helpers of the HTML tests.
#ifndef QUILL_TESTS_HTML_HTML_TEST_UTIL_H_
#define QUILL_TESTS_HTML_HTML_TEST_UTIL_H_

#include <string>
#include <string_view>

#include "html/display_element.h"
#include "html/element_description.h"
#include "html/html_document_builder.h"

namespace quill {
namespace html {

// The elements of a whole UTF-8 document, described.
inline std::string Build(std::string_view utf8) {
  HtmlDocumentBuilder builder;
  ElementList elements;
  builder.LoadDocumentUtf8(utf8, &elements);
  builder.FinishDocument(&elements);
  return DescribeElements(elements);
}

// The elements of a UTF-16 document fed in chunks of `chunk` units.
inline std::string BuildChunked(std::u16string_view doc, size_t chunk) {
  HtmlDocumentBuilder builder;
  ElementList elements;
  builder.LoadDocument(doc.substr(0, chunk), &elements);
  for (size_t start = chunk; start < doc.size(); start += chunk) {
    builder.AppendChunk(doc.substr(start, chunk), &elements);
  }
  builder.FinishDocument(&elements);
  return DescribeElements(elements);
}

}  // namespace html
}  // namespace quill

#endif  // QUILL_TESTS_HTML_HTML_TEST_UTIL_H_
