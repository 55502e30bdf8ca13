// Element type 5: a horizontal rule across the line.
#ifndef QUILL_HTML_RULE_ELEMENT_H_
#define QUILL_HTML_RULE_ELEMENT_H_

#include "html/display_element.h"

namespace quill {
namespace html {

class RuleElement final : public DisplayElement {
 public:
  RuleElement() : DisplayElement(ElementType::kRule) {}
  bool CanTakeFocus() const override { return false; }
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_RULE_ELEMENT_H_
