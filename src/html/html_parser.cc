#include "html/html_parser.h"

#include "html/html_entities.h"

namespace quill {
namespace html {
namespace {

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

void HtmlParser::Parse(std::string_view chunk, HtmlContentHandler* handler) {
  size_t pos = 0;
  while (tokenizer_.NextToken(chunk.data(), chunk.size(), &pos)) Dispatch(handler);
}

void HtmlParser::Finish(HtmlContentHandler* handler) {
  if (tokenizer_.Finish()) Dispatch(handler);
}

void HtmlParser::Dispatch(HtmlContentHandler* handler) {
  const std::string_view token = tokenizer_.text();
  switch (tokenizer_.kind()) {
    case TokenKind::kDelimiter: {
      handler->OnDelimiterToken(token);
      if (start_tag_open_ && !token.empty() && token.back() == '>') {
        start_tag_open_ = false;
        attribute_.clear();
        handler->StartTagEnd(tag_);
      }
      if (token.substr(0, 2) == "/>") {
        if (!tag_.empty()) handler->EndTag(tag_);
        tag_.clear();
      }
      break;
    }
    case TokenKind::kStartTag:
      tag_.assign(token);
      attribute_.clear();
      start_tag_open_ = true;
      handler->StartTag(token);
      handler->OnStartTagToken(token);
      break;
    case TokenKind::kEndTag:
      start_tag_open_ = false;
      handler->OnEndTagToken(token);
      handler->EndTag(token);
      tag_.clear();
      break;
    case TokenKind::kComment:
    case TokenKind::kIgnorable:
      handler->OnIgnorableToken(token);
      break;
    case TokenKind::kAttributeName:
      attribute_.assign(token);
      handler->OnAttributeNameToken(token);
      break;
    case TokenKind::kAttributeValue:
      handler->OnAttributeValueToken(token);
      // A value cut by the size cap would be wrong; it is dropped whole.
      if (!tokenizer_.overflowed()) {
        value_.clear();
        DecodeReferences(Unquote(token), LineEnds::kKeep, &value_);
        handler->Attribute(tag_, attribute_, value_);
      }
      attribute_.clear();
      break;
    case TokenKind::kText:
      handler->OnTextToken(token);
      handler->Text(tag_, token);
      break;
  }
}

}  // namespace html
}  // namespace quill
