// Fuzzes the HTML tokenizer and document builder, the text extractor and the
// plain-text loader. The first byte chooses a chunk size; the rest is the
// body (UTF-8). Checks: loading in chunks gives the elements of one whole
// load, and the element cap holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "html/display_element.h"
#include "html/element_description.h"
#include "html/html_document_builder.h"
#include "html/html_text_extractor.h"
#include "html/plain_text_loader.h"
#include "platform/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quill;
  using namespace quill::html;
  if (size < 1) return 0;
  const size_t chunk = 1 + data[0] % 97;
  const std::u16string body =
      Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  HtmlDocumentBuilder whole_builder;
  ElementList whole;
  whole_builder.LoadDocument(body, &whole);
  whole_builder.FinishDocument(&whole);

  HtmlDocumentBuilder builder;
  ElementList chunked;
  builder.LoadDocument(std::u16string_view(body).substr(0, chunk), &chunked);
  for (size_t at = chunk; at < body.size(); at += chunk) {
    // A copy continues the same document: the loader works on copies.
    HtmlDocumentBuilder copy = builder;
    copy.AppendChunk(std::u16string_view(body).substr(at, chunk), &chunked);
    builder = copy;
  }
  builder.FinishDocument(&chunked);
  if (DescribeElements(whole) != DescribeElements(chunked)) std::abort();
  if (whole.size() > kMaxDocumentElements) std::abort();

  (void)HtmlToText(body);
  ElementList plain;
  LoadPlainText(body, &plain);
  if (plain.size() > kMaxDocumentElements) std::abort();
  return 0;
}
