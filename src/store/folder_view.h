// The mails of one folder view in ascending (date, MailID) order.
//
// Adds made while loading or inside a batch go to an unsorted tail, and
// removals of a bulk delete are collected; both are settled in one pass
// (sort of the tail, merge, one sweep) when the view is next read or
// changed one at a time. So loading n mails is O(n log n) and a batch of k
// changes costs O(n + k log k), not O(n) per change.
//
// Thread safety: none.
#ifndef QUILL_STORE_FOLDER_VIEW_H_
#define QUILL_STORE_FOLDER_VIEW_H_

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quill {
namespace store {

// One entry of a folder view.
struct ViewEntry {
  uint64_t date;     // the mail's date, FILETIME
  uint32_t mail_id;  // the mail
  bool operator<(const ViewEntry& o) const {
    return date != o.date ? date < o.date : mail_id < o.mail_id;
  }
  bool operator==(const ViewEntry& o) const { return date == o.date && mail_id == o.mail_id; }
};

class FolderView {
 public:
  // Adds e; deferred adds are sorted in when the view is settled. The
  // caller never adds an entry that is in the view.
  void Add(const ViewEntry& e, bool defer) {
    if (defer) {
      entries_.push_back(e);
      return;
    }
    Settle();
    entries_.insert(std::lower_bound(entries_.begin(), entries_.end(), e), e);
    sorted_ = entries_.size();
  }

  // Removes e now, or (defer) when the view is next settled.
  void Remove(const ViewEntry& e, bool defer) {
    if (defer) {
      removed_.push_back(e);
      return;
    }
    Settle();
    auto it = std::lower_bound(entries_.begin(), entries_.end(), e);
    if (it != entries_.end() && *it == e) entries_.erase(it);
    sorted_ = entries_.size();
  }

  const std::vector<ViewEntry>& entries() const {
    Settle();
    return entries_;
  }

  void Settle() const {
    if (sorted_ < entries_.size()) {
      if (!std::is_sorted(entries_.begin() + sorted_, entries_.end())) {
        std::sort(entries_.begin() + sorted_, entries_.end());
      }
      std::inplace_merge(entries_.begin(), entries_.begin() + sorted_, entries_.end());
    }
    if (!removed_.empty()) {
      std::sort(removed_.begin(), removed_.end());
      entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                    [this](const ViewEntry& e) {
                                      return std::binary_search(removed_.begin(), removed_.end(), e);
                                    }),
                     entries_.end());
      removed_.clear();
    }
    sorted_ = entries_.size();
  }

 private:
  // Settling changes the representation, not the contents: mutable.
  mutable std::vector<ViewEntry> entries_;  // [0, sorted_) sorted, then the tail
  mutable size_t sorted_ = 0;
  mutable std::vector<ViewEntry> removed_;  // deferred removals
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_FOLDER_VIEW_H_
