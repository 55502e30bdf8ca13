// A compact text form of an element list, one token per element, for tests,
// fuzzing and diagnostics:
//   text  T"run"          link  L<target>"run"      image  I<source 40x30>
//   break |               rule  -                   others #<type>
// Runs carry their style after the text when set: {c=0x00BBGGRR b i u
// face=.. size=..}. Texts are written as UTF-8 with \n, \r, \t, \\ and \"
// escaped.
#ifndef QUILL_HTML_ELEMENT_DESCRIPTION_H_
#define QUILL_HTML_ELEMENT_DESCRIPTION_H_

#include <string>

#include "html/display_element.h"

namespace quill {
namespace html {

std::string DescribeElements(const ElementList& elements);

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_ELEMENT_DESCRIPTION_H_
