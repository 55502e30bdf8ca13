// The HTML view: shows a mail body (and the reader's header elements) laid
// out at a fixed width, paints it through a cached band of the document,
// moves the focus between links, images and header blocks, and reports taps
// to its listeners.
//
// Loading runs on the UI thread: SetHtml posts one message to the view's own
// endpoint, and each turn of the message loop parses one chunk of 512 UTF-16
// units, lays out its elements and posts the next turn. So the document
// shows progressively while the loop stays responsive, and no other thread
// ever touches the element, box or line lists. Every load has its own id: a
// new SetHtml makes the turns still queued for the old document do nothing.
//
// Coordinates: the view's window shows the document from the scroll offset
// down; window y = document y - scroll offset. Painting and hit-testing
// search the lines by y.
//
// Threading: UI thread only (the thread that owns the message loop).
#ifndef QUILL_HTML_HTML_VIEW_H_
#define QUILL_HTML_HTML_VIEW_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "html/display_element.h"
#include "html/html_document_builder.h"
#include "html/html_layout.h"
#include "html/html_painter.h"
#include "html/plain_text_loader.h"
#include "html/text_font.h"
#include "html/view_colours.h"
#include "platform/canvas.h"
#include "platform/message_loop.h"

namespace quill {
namespace html {

// What a tap hit.
enum class TapKind {
  kNothing = 0,  // an element that is neither an image nor a link or block
  kImage = 1,    // text: the image source
  kLink = 2,     // text: the link or block target
};

class HtmlViewListener {
 public:
  virtual ~HtmlViewListener() = default;
  // A tap on an element. Returning false says the listener is gone: the
  // view removes it and never calls it again.
  virtual bool OnTap(TapKind kind, const std::u16string& text) = 0;
  // The document changed (a chunk was laid out, an image arrived, the focus
  // moved): the host refreshes its scroll range and repaints.
  virtual void OnViewChanged(int64_t /*document_height*/) {}
};

class HtmlView {
 public:
  // Units of HTML parsed per turn of the message loop.
  static constexpr size_t kChunkUnits = 512;
  // Pen travel (pixels, each axis) that still counts as a tap.
  static constexpr int kTapSlop = 4;
  // Band size used when the screen size is unknown (0).
  static constexpr int kDefaultScreenWidth = 500;
  static constexpr int kDefaultScreenHeight = 1000;

  // `loop` and `font` are borrowed and must outlive the view; the view is
  // made on the loop's thread.
  HtmlView(MessageLoop* loop, const TextFont* font, const ViewColours& colours = ViewColours());
  ~HtmlView();
  HtmlView(const HtmlView&) = delete;
  HtmlView& operator=(const HtmlView&) = delete;

  // Window set-up by the host.
  void SetViewSize(int width, int height);
  // The band buffer's size; a side of 0 takes the defaults above, and a
  // size beyond the canvas limits is cut to them.
  void SetScreenSize(int width, int height);
  void SetScrollOffset(int64_t offset) { scroll_ = offset; }
  int64_t scroll_offset() const { return scroll_; }
  // Whether the view has the keyboard focus (focus highlights show only then).
  void SetViewFocused(bool focused);
  // Drawn for images whose picture has not arrived; sets their size too.
  void SetPlaceholder(std::unique_ptr<gfx::Canvas> placeholder);

  // Clears the view and starts loading a document (HTML, or plain text when
  // plain_text is set). False, with the view left empty, when the geometry
  // is refused (line width out of range).
  bool SetHtml(std::u16string html, bool plain_text, const LayoutGeometry& geometry);
  // As SetHtml in HTML mode, with the header elements laid out first.
  bool SetHtmlWithHeader(std::u16string html, ElementList header, const LayoutGeometry& geometry);
  // Continues the document: queued behind a load still running, or a new
  // load in continuation mode. False when the view refuses its document.
  bool AppendHtml(std::u16string_view html);
  // True while chunks remain to be parsed.
  bool loading() const { return loading_; }

  // Gives image element `index` its picture; see HtmlLayout::SetImage.
  bool SetImage(size_t index, std::unique_ptr<gfx::Canvas> bitmap);
  // Images take space and show only while on (on when the view is made).
  void SetImageDisplay(bool on);
  int64_t GetDocumentHeight() const { return layout_.DocumentHeight(); }
  const HtmlLayout& layout() const { return layout_; }

  // Focus navigation over the visible rows [scroll, scroll + height).
  int focused_element() const { return focused_; }
  // Moves the focus flag (index -1 or out of range: no focus) and repaints
  // both elements into the band.
  void SetFocusElement(int index);
  bool FocusNext();
  bool FocusPrevious();
  bool FocusFirstVisible();
  bool FocusLastVisible();
  // Top of the element's first box in window coordinates; 0 without a box.
  int64_t ElementTop(size_t index) const;
  // The element under a window point, or -1.
  int HitTest(int x, int y) const;

  // Paints window rectangle `rect` of the view onto `window` (a canvas of
  // the view's size, window coordinates).
  void Paint(const gfx::Rect& rect, gfx::Canvas* window);

  // Pen input in window coordinates. A pen-up within kTapSlop of its
  // pen-down, with no move beyond it between them, is a tap.
  void PenDown(int x, int y);
  void PenMove(int x, int y);
  void PenUp(int x, int y);

  // Listeners are borrowed; a listener must be removed (or report itself
  // gone) before it is destroyed.
  void AddListener(HtmlViewListener* listener);
  void RemoveListener(HtmlViewListener* listener);

 private:
  static constexpr uint32_t kLoadTurn = kWmUser + 1;  // wparam: the load's id

  intptr_t OnMessage(uint32_t msg, uintptr_t wparam);
  // Drops the document and sets the geometry; false when refused.
  bool Clear(const LayoutGeometry& geometry);
  void StartLoad(std::u16string html, bool continuation);
  void LoadTurn();
  void AddElements(ElementList* elements);
  void NotifyChanged();
  void Tap(int x, int y);
  PaintTarget BandTarget();
  // True when the band holds rows [top, bottom) of the current layout.
  bool BandHolds(int64_t top, int64_t bottom) const;
  void RenderBand(int64_t top);
  void RepaintInBand(int index);
  bool MoveFocus(int index);

  MessageLoop* loop_;                     // borrowed
  EndpointId endpoint_ = 0;               // receives the load turns
  HtmlLayout layout_;                     // elements, boxes, lines
  HtmlPainter painter_;                   // paints layout_
  std::unique_ptr<gfx::Canvas> placeholder_;  // image stand-in; may be null
  std::vector<HtmlViewListener*> listeners_;  // borrowed, in order added

  // Loading.
  uint64_t load_id_ = 0;                  // id of the current load; turns of others are dropped
  bool loading_ = false;                  // a turn is queued
  bool plain_text_ = false;               // the document is plain text
  bool continuation_ = false;             // the next chunk continues the builder's document
  std::u16string pending_;                // text still to parse, from pending_pos_
  size_t pending_pos_ = 0;                // first unit of pending_ not yet parsed
  HtmlDocumentBuilder builder_;           // HTML parse state between chunks and loads
  PlainTextLoader plain_loader_;          // plain-text state between chunks

  // Window.
  int view_width_ = 0;                    // client width of the view's window
  int view_height_ = 0;                   // client height of the view's window
  int screen_width_ = kDefaultScreenWidth;    // band width
  int screen_height_ = kDefaultScreenHeight;  // band height
  int64_t scroll_ = 0;                    // document y shown at window row 0
  bool view_focused_ = false;             // the view has the keyboard focus
  int focused_ = -1;                      // index of the focused element; -1 = none

  // The band cache: document rows [band_top_, band_top_ + band_.height()).
  gfx::Canvas band_;                      // the rendered band
  bool band_valid_ = false;               // band_ shows the layout of band_generation_
  int64_t band_top_ = 0;                  // document y of the band's first row
  uint64_t band_generation_ = 0;          // layout generation the band shows
  size_t band_boxes_ = 0;                 // boxes the band has painted (or may ignore)

  // Pen.
  bool pen_down_ = false;                 // a pen-down may still become a tap
  int pen_x_ = 0;                         // window point of the pen-down
  int pen_y_ = 0;
};

}  // namespace html
}  // namespace quill

#endif  // QUILL_HTML_HTML_VIEW_H_
