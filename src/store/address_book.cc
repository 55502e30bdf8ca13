#include "store/address_book.h"

#include "platform/ascii.h"
#include "platform/utf.h"

namespace quill {
namespace store {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string DisplayName(const ContactRecord& c) { return c.name.empty() ? c.address : c.name; }

std::u16string Trim(const std::u16string& s) {
  size_t b = s.find_first_not_of(u" \t");
  if (b == std::u16string::npos) return std::u16string();
  size_t e = s.find_last_not_of(u" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

bool AddressBook::Open(const std::string& path) { return records_.SetPath(path) && Load(); }

bool AddressBook::Settled(bool ok) {
  if (!ok && !records_.is_open()) Load();
  return ok;
}

bool AddressBook::Load() {
  contacts_.clear();
  by_rank_.clear();
  by_name_.clear();
  by_id_.clear();
  addresses_.clear();
  if (!records_.Open()) return false;
  for (uint32_t id : records_.Ids()) {
    Bytes raw;
    ContactRecord record;
    if (!records_.ReadAll(id, &raw) || !record.Decode(ByteView(raw.data(), ContactRecord::kSize))) {
      return false;
    }
    contacts_.push_back(Contact{id, std::move(record)});
    Index(std::prev(contacts_.end()));
  }
  return true;
}

void AddressBook::Index(Handle h) {
  by_rank_.emplace(h->record.rank, h);
  by_name_.emplace(DisplayName(h->record), h);
  if (h->record.contact_id != kLocalContactId) by_id_.emplace(h->record.contact_id, h);
  if (!h->record.address.empty()) ++addresses_[AsciiLowered(h->record.address)];
}

void AddressBook::Unindex(Handle h) {
  auto drop = [h](auto* map, const auto& key) {
    auto range = map->equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == h) {
        map->erase(it);
        return;
      }
    }
  };
  drop(&by_rank_, h->record.rank);
  drop(&by_name_, DisplayName(h->record));
  auto id = by_id_.find(h->record.contact_id);
  if (id != by_id_.end() && id->second == h) by_id_.erase(id);
  auto a = addresses_.find(AsciiLowered(h->record.address));
  if (a != addresses_.end() && --a->second == 0) addresses_.erase(a);
}

bool AddressBook::Store(Handle h) {
  if (h->record.address.empty()) return true;  // kept for the run only
  const Bytes raw = h->record.Encode();
  if (h->record_id != 0) return Settled(records_.WriteAll(h->record_id, raw));
  h->record_id = records_.Insert(raw);
  return Settled(h->record_id != 0);
}

bool AddressBook::Insert(ContactRecord record) {
  record.Fit();
  Contact c{0, std::move(record)};
  if (!c.record.address.empty()) {  // else kept for the run only
    c.record_id = records_.Insert(c.record.Encode());
    if (!Settled(c.record_id != 0)) return false;
  }
  contacts_.push_back(std::move(c));
  Index(std::prev(contacts_.end()));
  return true;
}

bool AddressBook::AddContact(const std::u16string& name, const std::u16string& address, uint32_t rank,
                             uint32_t contact_id, const std::u16string& search1,
                             const std::u16string& search2) {
  if (contact_id == kLocalContactId || address.find(u'@') == std::u16string::npos ||
      by_id_.count(contact_id)) {
    return false;
  }
  return Insert(ContactRecord{contact_id, rank, Utf16ToUtf8(name), Utf16ToUtf8(address),
                              Utf16ToUtf8(search1), Utf16ToUtf8(search2)});
}

bool AddressBook::UpdateContact(const std::u16string& name, const std::u16string& address, uint32_t rank,
                                uint32_t contact_id, uint32_t mask) {
  if (contact_id == 0 || contact_id == kLocalContactId) return false;
  auto it = by_id_.find(contact_id);
  if (it == by_id_.end()) return false;
  Handle h = it->second;
  Unindex(h);
  if (mask & 1) h->record.name = Utf16ToUtf8(name);
  if (mask & 2) h->record.address = Utf16ToUtf8(address);
  if (mask & 4) h->record.rank = rank;
  h->record.Fit();
  Index(h);
  return Store(h);
}

bool AddressBook::DeleteContact(uint32_t contact_id) {
  if (contact_id == 0 || contact_id == kLocalContactId) return false;
  auto it = by_id_.find(contact_id);
  if (it == by_id_.end()) return false;
  Handle h = it->second;
  Unindex(h);
  const uint32_t record_id = h->record_id;
  contacts_.erase(h);
  return record_id == 0 || Settled(records_.Delete(record_id));
}

bool AddressBook::AddUnknownAddresses(const std::vector<std::u16string>& display_addresses,
                                      size_t* added) {
  size_t count = 0;
  bool ok = true;
  records_.BeginGroup();  // one commit for all
  for (const std::u16string& display : display_addresses) {
    std::u16string name, address;
    SplitDisplayAddress(display, &name, &address);
    ContactRecord record{kLocalContactId, 0, Utf16ToUtf8(name), Utf16ToUtf8(address), {}, {}};
    record.Fit();  // compare in the stored form
    if (record.address.empty() || addresses_.count(AsciiLowered(record.address))) continue;
    if (!Insert(std::move(record))) {
      ok = false;
      break;
    }
    ++count;
  }
  records_.EndGroup();
  if (ok && count > 0 && !records_.in_group()) ok = Flush();
  if (added) *added = ok ? count : 0;
  return ok;
}

std::vector<const Contact*> AddressBook::RankList() const {
  std::vector<const Contact*> out;
  for (const auto& [rank, h] : by_rank_) out.push_back(&*h);
  return out;
}

std::vector<const Contact*> AddressBook::NameList() const {
  std::vector<const Contact*> out;
  for (const auto& [name, h] : by_name_) out.push_back(&*h);
  return out;
}

std::vector<std::u16string> AddressBook::RecentView() const {
  std::vector<std::u16string> out;
  for (auto it = by_rank_.rbegin(); it != by_rank_.rend() && out.size() < kRecentCount; ++it) {
    if (IsValidAddress(it->second->record.address)) out.push_back(DisplayAddress(it->second->record));
  }
  out.push_back(kAllContactsEntry);
  return out;
}

std::vector<std::u16string> AddressBook::AllView() const {
  std::vector<std::u16string> out;
  for (const auto& [name, h] : by_name_) {
    if (IsValidAddress(h->record.address)) out.push_back(DisplayAddress(h->record));
  }
  return out;
}

std::vector<std::u16string> AddressBook::Complete(const std::u16string& typed) const {
  const std::string prefix = AsciiLowered(Utf16ToUtf8(typed));
  std::vector<std::u16string> out;
  for (const auto& [name, h] : by_name_) {
    const ContactRecord& c = h->record;
    if (StartsWith(AsciiLowered(c.name), prefix) || StartsWith(AsciiLowered(c.address), prefix) ||
        StartsWith(AsciiLowered(c.search1), prefix) || StartsWith(AsciiLowered(c.search2), prefix)) {
      out.push_back(DisplayAddress(c));
    }
  }
  return out;
}

std::u16string AddressBook::DisplayAddress(const ContactRecord& c) {
  std::string name = c.name;
  if (name.empty()) name = c.address.substr(0, c.address.find('@'));
  return Utf8ToUtf16("\"" + name + "\"<" + c.address + ">");
}

void AddressBook::SplitDisplayAddress(const std::u16string& display, std::u16string* name,
                                      std::u16string* address) {
  const size_t lt = display.rfind(u'<');
  const size_t gt = lt == std::u16string::npos ? std::u16string::npos : display.find(u'>', lt);
  if (gt == std::u16string::npos) {
    name->clear();
    *address = Trim(display);
    return;
  }
  *address = Trim(display.substr(lt + 1, gt - lt - 1));
  std::u16string before = Trim(display.substr(0, lt));
  if (before.size() >= 2 && before.front() == u'"' && before.back() == u'"') {
    before = before.substr(1, before.size() - 2);
  }
  *name = before;
}

bool AddressBook::IsValidAddress(const std::string& address) {
  const size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 >= address.size()) return false;
  if (address.find('@', at + 1) != std::string::npos) return false;
  for (char c : address) {
    if (c == ' ' || c == '<' || c == '>' || c == '"' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

}  // namespace store
}  // namespace quill
