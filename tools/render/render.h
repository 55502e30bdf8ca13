// quillpost-render: lays out and paints a mail body headless, as the reader
// shows it, for looking at real-world HTML.
//
//   quillpost-render FILE.html [--width 240] [--scale N] [--mail-dir DIR]
//                    --out PAGE.png
//   quillpost-render FILE.html --text
//
// The body (UTF-8; invalid bytes become U+FFFD) is loaded through the view
// in loader-sized chunks and painted at its whole document height, cut at
// the canvas limit (said on err). --scale enlarges the picture N times
// (1 to 4). --mail-dir shows the images cached in a mail's directory
// (quillpost-cli images) in place of their stand-ins. --text prints the
// extracted plain text instead. Bad HTML still
// renders. Exit status: 0 done, 1 a file could not be read or written or no
// font was found (one error line on err), 2 bad usage.
#ifndef QUILL_TOOLS_RENDER_RENDER_H_
#define QUILL_TOOLS_RENDER_RENDER_H_

#include <ostream>
#include <string>
#include <vector>

namespace quill {
namespace render {

// Pixel size of the reader's text.
constexpr int kTextPixels = 14;
// Margins of the reader: the left margin, and the room kept on the right.
constexpr int kLeftMargin = 7;
constexpr int kRightMargin = 7;

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace render
}  // namespace quill

#endif  // QUILL_TOOLS_RENDER_RENDER_H_
