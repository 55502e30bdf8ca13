// When the reader asks for more of a mail's body. The store holds the body
// up to `held` of `total` characters; the rest comes in slices through the
// facade, one request at a time, either quietly (scrolled two thirds down)
// or as a blocking fetch ("下载全部正文", or scrolled to the end) that keeps
// asking until the body is complete while the view is disabled.
//
// States (outstanding: a slice request runs; blocking: a blocking fetch):
//
//   event                     condition                 outcome
//   ------------------------  ------------------------  --------------------------------
//   Scrolled(pos, max)        blocking                  nothing (the view is disabled)
//                             pos >= max - 10           FetchAll
//                             pos >= 2 * max / 3        one quiet request, unless outstanding
//   FetchAll                  held >= total             nothing
//                             otherwise                 blocking; a request unless outstanding
//   a request is started      the facade refuses        not outstanding; blocking ends
//   SliceDone(ok, now)        always                    not outstanding; held := now
//                             blocking, ok, progress,   the next request
//                               still held < total
//                             blocking, otherwise       blocking ends
//
// "Progress" means the held length or the version moved: a slice that adds
// nothing (a failed write, a version change the store could not take) ends
// a blocking fetch instead of asking for the same slice forever, and a
// failed request ends it too, so the view is never left disabled.
//
// Threading: UI thread only.
#ifndef QUILL_UI_BODY_SLICES_H_
#define QUILL_UI_BODY_SLICES_H_

#include <cstdint>
#include <functional>

namespace quill {
namespace ui {

class BodySlices {
 public:
  // What the store holds of the body.
  struct Held {
    uint32_t held = 0;     // characters held (the offset of the next slice)
    uint32_t total = 0;    // the body's length on the service
    uint16_t version = 0;  // the body version held, passed back with a request
    bool operator==(const Held& o) const {
      return held == o.held && total == o.total && version == o.version;
    }
  };
  // Starts one slice request from `offset` for `version`; false when the
  // facade started nothing.
  using Starter = std::function<bool(int32_t offset, int32_t version)>;

  explicit BodySlices(Starter start) : start_(std::move(start)) {}

  // What the store holds now (on opening the mail, after its brief).
  void SetHeld(const Held& held) { held_ = held; }
  const Held& held() const { return held_; }
  bool complete() const { return held_.held >= held_.total; }
  bool outstanding() const { return outstanding_; }
  bool blocking() const { return blocking_; }

  // After each scroll request of the view (moved or not): its position and
  // largest position.
  void Scrolled(int64_t position, int64_t max);
  // "下载全部正文": a blocking fetch of the rest.
  void FetchAll();
  // The facade's BodyDone for this mail, with what the store holds now.
  void SliceDone(bool ok, const Held& now);

  // Told when a blocking fetch starts (true) and ends (false).
  std::function<void(bool blocking)> on_blocking;

 private:
  void Request();
  void SetBlocking(bool blocking);

  Starter start_;
  Held held_;
  bool outstanding_ = false;  // a slice request runs
  bool blocking_ = false;     // a blocking fetch runs
};

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_BODY_SLICES_H_
