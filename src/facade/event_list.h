// Subscribers of one facade event. Handlers run on the UI thread, without
// any lock held, and may subscribe, unsubscribe or start operations while
// the event is delivered: a handler removed during delivery is not called
// afterwards, one added is called from the next delivery on.
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_EVENT_LIST_H_
#define QUILL_FACADE_EVENT_LIST_H_

#include <functional>
#include <vector>

namespace quill {
namespace facade {

template <typename... Args>
class EventList {
 public:
  using Handler = std::function<void(Args...)>;

  // Returns the id for Unsubscribe; ids of one list are never reused.
  int Subscribe(Handler handler) {
    subscribers_.push_back(Subscriber{next_id_, std::move(handler)});
    return next_id_++;
  }
  void Unsubscribe(int id) {
    for (auto it = subscribers_.begin(); it != subscribers_.end(); ++it) {
      if (it->id == id) {
        subscribers_.erase(it);
        return;
      }
    }
  }
  void Fire(Args... args) {
    const std::vector<Subscriber> snapshot = subscribers_;
    for (const Subscriber& s : snapshot) {
      bool still_subscribed = false;
      for (const Subscriber& now : subscribers_) still_subscribed |= now.id == s.id;
      if (still_subscribed) s.handler(args...);
    }
  }

 private:
  struct Subscriber {
    int id;          // from Subscribe
    Handler handler; // the callback
  };
  std::vector<Subscriber> subscribers_;
  int next_id_ = 1;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_EVENT_LIST_H_
