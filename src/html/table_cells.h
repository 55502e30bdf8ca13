// Where table cells of one row need a space between them. There is no table
// layout: cells flow one after the other, so without a gap the texts of
// neighbouring cells would run together. Both the display builder and the
// plain-text extractor ask this tracker at every start and end tag.
//
// Rows begin at a TR or TABLE tag (start or end); a TD or TH that is not the
// first cell of its row is preceded by one space. Tag names are matched
// whole (THEAD is no cell). A copyable value; not thread-safe.
#ifndef QUILL_HTML_TABLE_CELLS_H_
#define QUILL_HTML_TABLE_CELLS_H_

#include <string_view>

#include "html/html_names.h"

namespace quill {
namespace html {

class TableCells {
 public:
  // A start tag. True when a space must come before the cell it opens.
  bool StartTag(std::string_view name) {
    if (NameIs(name, "TD") || NameIs(name, "TH")) {
      const bool gap = cell_in_row_;
      cell_in_row_ = true;
      return gap;
    }
    if (NameIs(name, "TR") || NameIs(name, "TABLE")) cell_in_row_ = false;
    return false;
  }
  void EndTag(std::string_view name) {
    if (NameIs(name, "TR") || NameIs(name, "TABLE")) cell_in_row_ = false;
  }

 private:
  bool cell_in_row_ = false;  // a cell of the current row has started
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_TABLE_CELLS_H_
