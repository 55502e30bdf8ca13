#include "html/html_view.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "html/image_element.h"
#include "html/labelled_block_element.h"
#include "html/link_element.h"

namespace quill {
namespace html {

HtmlView::HtmlView(MessageLoop* loop, const TextFont* font, const ViewColours& colours)
    : loop_(loop), layout_(font), painter_(font, colours) {
  endpoint_ = loop_->CreateEndpoint(
      [this](uint32_t msg, uintptr_t wparam, intptr_t) { return OnMessage(msg, wparam); });
}

HtmlView::~HtmlView() { loop_->DestroyEndpoint(endpoint_); }

void HtmlView::SetViewSize(int width, int height) {
  view_width_ = std::max(width, 0);
  view_height_ = std::max(height, 0);
  band_valid_ = false;
}

void HtmlView::SetScreenSize(int width, int height) {
  screen_width_ = width > 0 ? std::min(width, gfx::kMaxCanvasSide) : kDefaultScreenWidth;
  screen_height_ = height > 0 ? std::min(height, gfx::kMaxCanvasSide) : kDefaultScreenHeight;
  // The band must be a canvas that can be made.
  screen_height_ = static_cast<int>(
      std::min<int64_t>(screen_height_, gfx::kMaxCanvasPixels / screen_width_));
  band_valid_ = false;
}

void HtmlView::SetViewFocused(bool focused) {
  if (focused == view_focused_) return;
  view_focused_ = focused;
  RepaintInBand(focused_);
}

void HtmlView::SetPlaceholder(std::unique_ptr<gfx::Canvas> placeholder) {
  placeholder_ = std::move(placeholder);
  if (placeholder_ != nullptr && !placeholder_->empty()) {
    layout_.SetPlaceholderSize(placeholder_->width(), placeholder_->height());
  } else {
    layout_.SetPlaceholderSize(HtmlLayout::kPlaceholderWidth, HtmlLayout::kPlaceholderHeight);
  }
  band_valid_ = false;
}

bool HtmlView::Clear(const LayoutGeometry& geometry) {
  ++load_id_;
  loading_ = false;
  pending_.clear();
  pending_pos_ = 0;
  builder_ = HtmlDocumentBuilder();
  plain_loader_ = PlainTextLoader();
  focused_ = -1;
  band_valid_ = false;
  return layout_.Reset(geometry);
}

bool HtmlView::SetHtml(std::u16string html, bool plain_text, const LayoutGeometry& geometry) {
  const bool accepted = Clear(geometry);
  plain_text_ = plain_text;
  if (accepted) StartLoad(std::move(html), false);
  NotifyChanged();
  return accepted;
}

bool HtmlView::SetHtmlWithHeader(std::u16string html, ElementList header,
                                 const LayoutGeometry& geometry) {
  const bool accepted = Clear(geometry);
  plain_text_ = false;
  if (accepted) {
    AddElements(&header);
    StartLoad(std::move(html), false);
  }
  NotifyChanged();
  return accepted;
}

bool HtmlView::AppendHtml(std::u16string_view html) {
  if (!layout_.accepting()) return false;
  if (loading_) {
    pending_.append(html);
  } else {
    StartLoad(std::u16string(html), true);
  }
  return true;
}

void HtmlView::StartLoad(std::u16string html, bool continuation) {
  pending_ = std::move(html);
  pending_pos_ = 0;
  continuation_ = continuation;
  loading_ = loop_->Post(endpoint_, kLoadTurn, static_cast<uintptr_t>(load_id_), 0);
}

intptr_t HtmlView::OnMessage(uint32_t msg, uintptr_t wparam) {
  // Turns queued for an earlier document carry its id and are dropped.
  if (msg == kLoadTurn && loading_ && wparam == static_cast<uintptr_t>(load_id_)) LoadTurn();
  return 0;
}

void HtmlView::LoadTurn() {
  const size_t count = std::min(pending_.size() - pending_pos_, kChunkUnits);
  const std::u16string_view chunk = std::u16string_view(pending_).substr(pending_pos_, count);
  pending_pos_ += count;
  ElementList fresh;
  if (plain_text_) {
    plain_loader_.Append(chunk, &fresh);
  } else if (continuation_) {
    builder_.AppendChunk(chunk, &fresh);
  } else {
    builder_.LoadDocument(chunk, &fresh);
  }
  continuation_ = true;
  const bool done = pending_pos_ == pending_.size();
  if (done) {
    if (plain_text_) {
      plain_loader_.Finish(&fresh);
    } else {
      builder_.FinishDocument(&fresh);
    }
    pending_.clear();
    pending_pos_ = 0;
  }
  AddElements(&fresh);
  loading_ = !done && loop_->Post(endpoint_, kLoadTurn, static_cast<uintptr_t>(load_id_), 0);
  NotifyChanged();
}

void HtmlView::AddElements(ElementList* elements) { layout_.Append(elements); }

void HtmlView::NotifyChanged() {
  const std::vector<HtmlViewListener*> listeners = listeners_;
  for (HtmlViewListener* listener : listeners) {
    // A listener removed by an earlier one is not called.
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) continue;
    listener->OnViewChanged(layout_.DocumentHeight());
  }
}

bool HtmlView::SetImage(size_t index, std::unique_ptr<gfx::Canvas> bitmap) {
  if (!layout_.SetImage(index, std::move(bitmap))) return false;
  NotifyChanged();
  return true;
}

void HtmlView::SetImageDisplay(bool on) {
  if (on == layout_.image_display()) return;
  layout_.SetImageDisplay(on);
  NotifyChanged();
}

void HtmlView::SetFocusElement(int index) {
  if (index < 0 || static_cast<size_t>(index) >= layout_.element_count()) index = -1;
  if (focused_ >= 0) {
    layout_.mutable_element(focused_)->set_focused(false);
    RepaintInBand(focused_);
  }
  focused_ = index;
  if (focused_ >= 0) {
    layout_.mutable_element(focused_)->set_focused(true);
    RepaintInBand(focused_);
  }
  NotifyChanged();
}

bool HtmlView::MoveFocus(int index) {
  if (index < 0) return false;
  SetFocusElement(index);
  return true;
}

bool HtmlView::FocusNext() {
  return MoveFocus(layout_.NextFocusable(focused_, scroll_, scroll_ + view_height_));
}

bool HtmlView::FocusPrevious() {
  return MoveFocus(layout_.PreviousFocusable(focused_, scroll_, scroll_ + view_height_));
}

bool HtmlView::FocusFirstVisible() {
  return MoveFocus(layout_.NextFocusable(-1, scroll_, scroll_ + view_height_));
}

bool HtmlView::FocusLastVisible() {
  return MoveFocus(layout_.PreviousFocusable(-1, scroll_, scroll_ + view_height_));
}

int64_t HtmlView::ElementTop(size_t index) const {
  if (index >= layout_.element_count() || layout_.element(index).first_box() < 0) return 0;
  return layout_.ElementTop(index) - scroll_;
}

int HtmlView::HitTest(int x, int y) const { return layout_.HitTest(x, int64_t{y} + scroll_); }

PaintTarget HtmlView::BandTarget() {
  PaintTarget target;
  target.canvas = &band_;
  target.origin_y = band_top_;
  target.view_width = view_width_ > 0 ? view_width_ : screen_width_;
  target.view_focused = view_focused_;
  target.placeholder = placeholder_.get();
  return target;
}

bool HtmlView::BandHolds(int64_t top, int64_t bottom) const {
  return band_valid_ && band_generation_ == layout_.generation() && top >= band_top_ &&
         bottom <= band_top_ + band_.height();
}

void HtmlView::RenderBand(int64_t top) {
  if (band_.width() != screen_width_ || band_.height() != screen_height_) {
    band_.Reset(screen_width_, screen_height_);
  }
  band_top_ = top;
  painter_.PaintArea(layout_, BandTarget(), gfx::Rect{0, 0, band_.width(), band_.height()});
  band_valid_ = true;
  band_generation_ = layout_.generation();
  band_boxes_ = layout_.boxes().size();
}

void HtmlView::RepaintInBand(int index) {
  if (index < 0 || !band_valid_ || band_generation_ != layout_.generation()) return;
  painter_.RepaintElement(layout_, BandTarget(), static_cast<size_t>(index));
}

void HtmlView::Paint(const gfx::Rect& rect, gfx::Canvas* window) {
  const gfx::Rect r = rect.Intersect(gfx::Rect{0, 0, window->width(), window->height()});
  if (r.empty()) return;
  const LayoutGeometry& g = layout_.geometry();
  const bool whole_width = r.left == 0 && r.right >= g.left_margin + g.line_width;
  const int64_t top = r.top + scroll_;
  const int64_t bottom = r.bottom + scroll_;
  if (whole_width && r.right <= screen_width_ && r.height() <= screen_height_) {
    if (!BandHolds(top, bottom)) {
      // Scrolling up keeps the band ending at the request, so that further
      // small steps up are still inside it.
      const bool above = band_valid_ && top < band_top_;
      RenderBand(above ? bottom - screen_height_ : top);
    } else if (band_boxes_ < layout_.boxes().size()) {
      // Boxes laid out since the band was rendered land on fresh background.
      painter_.PaintBoxes(layout_, BandTarget(), band_boxes_, layout_.boxes().size());
      band_boxes_ = layout_.boxes().size();
    }
    window->PushClip(r);
    window->Blit(band_, 0, static_cast<int>(band_top_ - scroll_));
    window->PopClip();
    return;
  }
  gfx::Canvas part;
  if (!part.Reset(r.width(), r.height())) return;
  PaintTarget target;
  target.canvas = &part;
  target.origin_x = r.left;
  target.origin_y = top;
  target.view_width = view_width_ > 0 ? view_width_ : window->width();
  target.view_focused = view_focused_;
  target.placeholder = placeholder_.get();
  painter_.PaintArea(layout_, target, gfx::Rect{0, 0, part.width(), part.height()});
  window->Blit(part, r.left, r.top);
}

void HtmlView::PenDown(int x, int y) {
  pen_down_ = true;
  pen_x_ = x;
  pen_y_ = y;
}

void HtmlView::PenMove(int x, int y) {
  if (std::abs(int64_t{x} - pen_x_) > kTapSlop || std::abs(int64_t{y} - pen_y_) > kTapSlop) {
    pen_down_ = false;
  }
}

void HtmlView::PenUp(int x, int y) {
  PenMove(x, y);
  if (!pen_down_) return;
  pen_down_ = false;
  Tap(x, y);
}

void HtmlView::Tap(int x, int y) {
  const int index = HitTest(x, y);
  if (index < 0) return;
  SetFocusElement(index);
  const DisplayElement& element = layout_.element(index);
  TapKind kind = TapKind::kNothing;
  std::u16string text;
  switch (element.type()) {
    case ElementType::kImage:
      kind = TapKind::kImage;
      text = static_cast<const ImageElement&>(element).source();
      break;
    case ElementType::kLink:
      kind = TapKind::kLink;
      text = static_cast<const LinkElement&>(element).target();
      break;
    case ElementType::kLabelledBlock:
      kind = TapKind::kLink;
      text = static_cast<const LabelledBlockElement&>(element).target;
      break;
    default:
      break;
  }
  const std::vector<HtmlViewListener*> listeners = listeners_;
  for (HtmlViewListener* listener : listeners) {
    auto it = std::find(listeners_.begin(), listeners_.end(), listener);
    if (it == listeners_.end()) continue;
    if (!listener->OnTap(kind, text)) {
      it = std::find(listeners_.begin(), listeners_.end(), listener);
      if (it != listeners_.end()) listeners_.erase(it);
    }
  }
}

void HtmlView::AddListener(HtmlViewListener* listener) {
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
    listeners_.push_back(listener);
  }
}

void HtmlView::RemoveListener(HtmlViewListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

}  // namespace html
}  // namespace quill
