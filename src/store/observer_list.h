// A list of observers that may go away at any time. An observer is a
// shared callback; the list holds it weakly, so dropping the last owner is
// how an observer leaves ("not in use"). Dead entries are pruned while the
// list is walked.
//
// Thread safety: Add and Notify may be called from any thread. Callbacks run
// outside the list's lock, so a callback may add observers.
#ifndef QUILL_STORE_OBSERVER_LIST_H_
#define QUILL_STORE_OBSERVER_LIST_H_

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quill {
namespace store {

template <typename... Args>
class ObserverList {
 public:
  using Callback = std::function<void(Args...)>;

  void Add(const std::shared_ptr<Callback>& observer) {
    std::lock_guard<std::mutex> lock(mu_);
    entries_.push_back(observer);
  }

  // Calls every live observer in the order they were added.
  void Notify(Args... args) {
    for (auto& callback : Live()) (*callback)(args...);
  }

  // The live observers, for a caller that notifies many times in a row.
  std::vector<std::shared_ptr<Callback>> Live() {
    std::vector<std::shared_ptr<Callback>> live;
    {
      std::lock_guard<std::mutex> lock(mu_);
      size_t kept = 0;
      for (auto& entry : entries_) {
        if (std::shared_ptr<Callback> strong = entry.lock()) {
          live.push_back(std::move(strong));
          entries_[kept++] = entry;
        }
      }
      entries_.resize(kept);
    }
    return live;
  }

 private:
  std::mutex mu_;
  std::vector<std::weak_ptr<Callback>> entries_;  // guarded by mu_
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_OBSERVER_LIST_H_
