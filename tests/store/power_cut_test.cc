// The account store under power cuts: a random, seeded run of sync pages
// (mails added, replayed, flagged, moved and deleted, folders and contacts,
// embedded briefs, the key saved now and then or only held), the user's
// marks, deletes and moves, and local mails saved and saved again, driven
// as the sync applier and the screens drive the store. The power goes at a
// random moment; after each cut and reopen:
// - each of "mails.idx", "folders.idx" and "address.txt" holds exactly its
//   last commit or the one under way; the sync key is the last saved one
//   or the one being saved, and when it is the new one so is everything;
//   a file that had to be started over or repaired sets the key to 0;
// - every mail, among them every local mail whose save returned, has its
//   record and its files: a local mail's files are those of its record's
//   version, a service mail's brief is its own;
// - the indexes equal a recount; no MailID with files is handed out again.
// QUILL_STORE_LONG runs 25 times as many cuts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/ascii.h"
#include "platform/fault_file_system.h"
#include "platform/utf.h"
#include "store/account_store.h"
#include "store/store_checker.h"
#include "tests/temp_dir.h"

namespace quill {
namespace store {
namespace {

// One mail as the model sees it.
struct MailM {
  uint32_t server_id;     // kLocalServerId for a local mail
  uint32_t folder;        // FolderID
  uint32_t flags;         // bit 0 unread
  std::u16string subject; // names the version of a local mail
  uint16_t kind;          // local kind
  bool operator==(const MailM& o) const {
    return server_id == o.server_id && folder == o.folder && flags == o.flags && subject == o.subject &&
           kind == o.kind;
  }
};

// What the store holds, file by file.
struct State {
  std::map<uint32_t, MailM> mails;                   // "mails.idx", by MailID
  std::map<uint32_t, std::u16string> folders;        // "folders.idx"
  std::multiset<std::pair<uint32_t, std::string>> contacts;  // "address.txt": (contact id, address)
  int32_t key = 0;                                   // "SYNC_KEY_V1"
};

std::u16string BodyOf(const std::u16string& subject) { return u"<p>" + subject + u"</p>"; }
std::u16string BriefOf(uint32_t server_id) { return u"brief " + Utf8ToUtf16(std::to_string(server_id)); }
std::string SenderAddress(uint32_t n) { return "s" + std::to_string(n) + "@x.cn"; }

class PowerCutTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kUin = 7;
  std::string Data() const { return dir_.path() + "/"; }

  // --- the model -----------------------------------------------------------

  bool KnowsAddress(const State& s, const std::string& address) const {
    for (const auto& [id, a] : s.contacts) {
      if (EqualsIgnoringAsciiCase(a, address)) return true;
    }
    return false;
  }
  void AddUnknown(const std::string& address) {
    if (!KnowsAddress(now_, address)) now_.contacts.insert({kLocalContactId, address});
  }
  // A mail of the model of the given kind, chosen at random; 0 when none.
  uint32_t PickMail(bool local) {
    std::vector<uint32_t> ids;
    for (const auto& [id, m] : now_.mails) {
      if ((m.kind != 0) == local) ids.push_back(id);
    }
    return ids.empty() ? 0 : ids[rng_() % ids.size()];
  }

  // --- the operations ------------------------------------------------------
  // Each applies one step to now_ and then to the store; true when the
  // store did it (false only once the power is gone). committed_ follows
  // the commits a step reports. A step cut short leaves the store at
  // committed_ or, for a file whose commit got through, at now_.

  // One page, as the sync applier applies it: commands in a batch, embedded
  // briefs in a second batch, then the key, durable or held.
  bool SyncPage() {
    const bool durable = rng_() % 3 == 0;
    std::vector<uint32_t> briefs;
    store_->BeginBatch();
    bool ok = true;
    const int commands = 1 + static_cast<int>(rng_() % 5);
    for (int i = 0; i < commands && ok; ++i) {
      const uint32_t op = rng_() % 10;
      const uint32_t mail_id = PickMail(false);
      if (op < 4 || mail_id == 0) {
        // RBCMD_AddMail: a new mail, or one already held again (its head).
        const bool replay = mail_id != 0 && op == 0;
        const uint32_t server_id = replay ? now_.mails[mail_id].server_id : next_server_id_++;
        const uint32_t folder = kFolders[rng_() % 3];
        const uint32_t flags = rng_() % 2;
        const std::u16string subject = u"mail " + Utf8ToUtf16(std::to_string(server_id)) + u"." +
                                       Utf8ToUtf16(std::to_string(rng_() % 100));
        MailRecord r;
        const uint32_t held = store_->mails()->FindByServerID(server_id);
        if (held != 0) {
          ok = store_->mails()->ReadMail(held, &r);
        } else {
          r.set_server_id(server_id);
        }
        r.set_folder(folder);
        r.set_flags(flags);
        r.subject = subject;
        r.sender = u"\"S\"<" + Utf8ToUtf16(SenderAddress(server_id % 7)) + u">";
        r.MarkTextsChanged();
        // A new mail gets the next MailID (held: nothing is committed).
        const uint32_t id = held != 0 ? held : store_->mails()->NextMailId();
        now_.mails[id] = MailM{server_id, folder, flags, subject, 0};
        AddUnknown(SenderAddress(server_id % 7));
        if (held == 0) briefs.push_back(server_id);
        if (ok) ok = held != 0 ? store_->mails()->WriteMail(held, &r) : store_->mails()->AddOrUpdateMail(&r) == id;
        ok = ok && store_->address_book()->AddUnknownAddresses({r.sender});
      } else if (op == 4) {
        const uint32_t flags = rng_() % 2;
        now_.mails[mail_id].flags = flags;
        ok = store_->mails()->SetMailFlags(mail_id, flags);
      } else if (op == 5) {
        const uint32_t folder = kFolders[rng_() % 3];
        now_.mails[mail_id].folder = folder;
        ok = store_->mails()->MoveMail(mail_id, folder);
      } else if (op == 6) {
        now_.mails.erase(mail_id);
        ok = store_->mails()->DeleteMail(mail_id);
      } else if (op == 7) {
        const uint32_t folder = 100 + rng_() % 6;
        const std::u16string name = u"folder " + Utf8ToUtf16(std::to_string(rng_() % 50));
        const bool known = now_.folders.count(folder) != 0;
        now_.folders[folder] = name;
        ok = known ? store_->folders()->UpdateFolder(folder, 1, name) : store_->folders()->AddFolder(folder, name);
      } else if (op == 8 && !now_.folders.empty()) {
        auto it = now_.folders.begin();
        std::advance(it, rng_() % now_.folders.size());
        const uint32_t folder = it->first;
        now_.folders.erase(it);
        ok = store_->folders()->DeleteFolder(folder);
      } else {
        const uint32_t contact = 1 + rng_() % 8;
        auto held = std::find_if(now_.contacts.begin(), now_.contacts.end(),
                                 [&](const auto& c) { return c.first == contact; });
        if (held != now_.contacts.end()) {
          now_.contacts.erase(held);
          ok = store_->address_book()->DeleteContact(contact);
        } else {
          const std::string address = "c" + std::to_string(rng_() % 20) + "@x.cn";
          now_.contacts.insert({contact, address});
          ok = store_->address_book()->AddContact(u"C", Utf8ToUtf16(address), contact, contact, u"", u"");
        }
      }
    }
    ok = store_->EndBatch(/*flush=*/false) && ok;
    if (!ok) return false;
    // Embedded briefs: the files first, then the record.
    store_->BeginBatch();
    for (uint32_t server_id : briefs) {
      const uint32_t id = store_->mails()->FindByServerID(server_id);
      if (id == 0) continue;  // deleted again within the page
      MailFiles files;
      files.brief = BriefOf(server_id);
      MailRecord r;
      ok = store_->mails()->files()->SaveMailFiles(id, files) && store_->mails()->ReadMail(id, &r);
      if (!ok) break;
      r.set_body_state(kBodyIncomplete);
      ok = store_->mails()->WriteMail(id, &r);
      if (!ok) break;
    }
    ok = store_->EndBatch(/*flush=*/false) && ok;
    if (!ok) return false;
    now_.key = next_key_++;
    if (!store_->SetSyncKey(now_.key, durable)) return false;
    if (durable) committed_ = now_;
    return true;
  }

  // The user marks a mail read or unread (committed at once, with the
  // changes of pages not saved yet).
  bool Mark() {
    const uint32_t id = PickMail(false);
    if (id == 0) return true;
    MailM& m = now_.mails[id];
    const bool unread = m.flags & kUnreadFlag;
    m.flags ^= kUnreadFlag;
    if (!(unread ? store_->MarkRead(id) : store_->MarkUnread(id))) return false;
    committed_.mails = now_.mails;
    return true;
  }

  bool Move() {
    const uint32_t id = PickMail(rng_() % 4 == 0);
    if (id == 0) return true;
    const uint32_t folder = kFolders[rng_() % 3];
    now_.mails[id].folder = folder;
    if (!store_->mails()->MoveMail(id, folder)) return false;
    committed_.mails = now_.mails;
    return true;
  }

  bool Delete() {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 2; ++i) {
      const uint32_t id = PickMail(rng_() % 3 == 0);
      if (id != 0 && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
    if (ids.empty()) return true;
    for (uint32_t id : ids) now_.mails.erase(id);
    if (!store_->DeleteMailsAndQueue(ids)) return false;
    committed_.mails = now_.mails;
    return true;
  }

  // A local mail saved, new (it gets the next MailID) or again.
  bool SaveLocal() {
    uint32_t id = rng_() % 2 == 0 ? PickMail(true) : 0;
    LocalMail mail;
    mail.subject = u"draft " + Utf8ToUtf16(std::to_string(++saves_));
    mail.body = BodyOf(mail.subject);
    const std::string to = "r" + std::to_string(saves_ % 5) + "@x.cn";
    mail.to = {u"\"R\"<" + Utf8ToUtf16(to) + u">"};
    mail.compose_mode = static_cast<uint16_t>(1 + rng_() % 3);
    const uint32_t expect_id = id != 0 ? id : store_->mails()->NextMailId();
    const bool new_address = !KnowsAddress(now_, to);
    now_.mails[expect_id] = MailM{kLocalServerId, kLocalFolder, 0, mail.subject, mail.compose_mode};
    AddUnknown(to);
    if (!store_->SaveLocalMail(mail, &id) || fault_.frozen()) return false;
    EXPECT_EQ(id, expect_id);
    committed_.mails = now_.mails;
    if (new_address) committed_.contacts = now_.contacts;
    return true;
  }

  bool Step() {
    const uint32_t op = rng_() % 10;
    if (op < 5) return SyncPage();
    if (op == 5) return Mark();
    if (op == 6) return Move();
    if (op == 7) return Delete();
    return SaveLocal();
  }

  // --- checks after a cut --------------------------------------------------

  bool Open() {
    store_ = std::make_unique<AccountStore>(&fault_);
    return store_->Open(kUin, Data());
  }

  State Read() {
    State s;
    MailStore* mails = store_->mails();
    for (const ViewEntry& e : mails->View(0)) {
      MailRecord r;
      EXPECT_TRUE(mails->ReadMail(e.mail_id, &r)) << "mail " << e.mail_id;
      s.mails[e.mail_id] = MailM{r.server_id(), r.folder(), r.flags(), r.subject, r.local_kind()};
    }
    for (const FolderRecord& f : store_->folders()->folders()) s.folders[f.folder_id()] = f.name();
    for (const Contact* c : store_->address_book()->RankList()) {
      s.contacts.insert({c->record.contact_id, c->record.address});
    }
    s.key = store_->GetSyncKey();
    return s;
  }

  // The counters and views of a recount of the records.
  void ExpectIndexesMatch(const State& s) {
    MailStore* mails = store_->mails();
    std::map<uint32_t, uint32_t> total, unread;
    for (const auto& [id, m] : s.mails) {
      ++total[m.folder];
      ++total[0];
      if (m.flags & kUnreadFlag) {
        ++unread[m.folder];
        ++unread[0];
      }
      if (m.kind == 0) {
        EXPECT_EQ(mails->FindByServerID(m.server_id), id);
      }
    }
    for (uint32_t f : {0u, 1u, 3u, 4u, 7u}) {
      EXPECT_EQ(mails->TotalCount(f), total[f]) << "folder " << f;
      EXPECT_EQ(mails->UnreadCount(f), unread[f]) << "folder " << f;
      EXPECT_EQ(mails->View(f).size(), total[f]) << "view " << f;
    }
    EXPECT_EQ(mails->View(kUnreadView).size(), unread[0]);
  }

  void CheckAfterCut() {
    const State got = Read();
    const RecordFileReport* reports[] = {&store_->mails()->report(), &store_->folders()->report(),
                                         &store_->address_book()->report()};
    bool started_over = false;
    for (const RecordFileReport* r : reports) {
      // The journal leaves nothing to repair.
      EXPECT_FALSE(r->repaired);
      for (const std::string& p : r->problems) EXPECT_EQ(p, "invalid header");
      started_over |= r->created || r->reset;
    }
    // A file that started over lost nothing committed (it never held any).
    const bool lost[] = {!committed_.mails.empty(), !committed_.folders.empty(), !committed_.contacts.empty()};
    for (int i = 0; i < 3; ++i) {
      EXPECT_FALSE((reports[i]->created || reports[i]->reset) && lost[i]) << "file " << i << " started over";
    }
    EXPECT_TRUE(got.mails == committed_.mails || got.mails == now_.mails) << "mails: neither commit";
    EXPECT_TRUE(got.folders == committed_.folders || got.folders == now_.folders) << "folders";
    EXPECT_TRUE(got.contacts == committed_.contacts || got.contacts == now_.contacts) << "contacts";
    if (started_over) {
      EXPECT_EQ(got.key, 0);
    } else {
      EXPECT_TRUE(got.key == committed_.key || got.key == now_.key) << got.key;
    }
    if (got.key != committed_.key && got.key != 0) {
      // The key being saved survived: so did all it stands for.
      EXPECT_TRUE(got.mails == now_.mails && got.folders == now_.folders && got.contacts == now_.contacts);
    }
    ExpectIndexesMatch(got);
    // Chains, free lists and records as a read-only check sees them; a
    // deleted mail's files may outlive its record when the cut came between.
    for (const std::string& p : CheckAccountStore(&fault_, store_->account_dir()).problems) {
      EXPECT_NE(p.find("files of a mail not in mails.idx"), std::string::npos) << p;
    }
    MailFileStore* files = store_->mails()->files();
    for (const auto& [id, m] : got.mails) {
      MailFiles f;
      files->LoadMailFiles(id, &f);
      if (m.kind != 0) {
        EXPECT_EQ(f.subject, m.subject) << "local mail " << id;
        EXPECT_EQ(f.body, BodyOf(m.subject)) << "local mail " << id;
      } else {
        EXPECT_EQ(f.brief, BriefOf(m.server_id)) << "mail " << id;
      }
    }
    std::vector<uint32_t> dirs;
    files->ListMailDirs(&dirs);
    for (uint32_t id : dirs) EXPECT_LT(id, store_->mails()->NextMailId()) << "directory " << id;
    now_ = committed_ = got;
  }

  static constexpr uint32_t kFolders[] = {1, 3, 7};
  TempDir dir_{TempDir::MemoryParent()};
  FaultInjectingFileSystem fault_{DefaultFileSystem()};
  std::unique_ptr<AccountStore> store_;
  std::mt19937 rng_;
  State now_;        // every change made
  State committed_;  // per file, as last committed; the key as last saved
  uint32_t next_server_id_ = 1;
  int32_t next_key_ = 1;
  int saves_ = 0;
};

TEST_F(PowerCutTest, TheStoreSurvivesEveryCut) {
  const char* env = std::getenv("QUILL_STORE_LONG");
  const int runs = env && *env ? 2500 : 100;
  const int cuts_per_run = 10;
  int cuts = 0, mid_op = 0;
  for (int run = 0; run < runs; ++run) {
    rng_.seed(static_cast<uint32_t>(run));
    std::error_code ignored;
    std::filesystem::remove_all(Data() + std::to_string(kUin), ignored);
    now_ = committed_ = State();
    ASSERT_TRUE(Open());
    for (int cut = 0; cut < cuts_per_run; ++cut) {
      SCOPED_TRACE("run " + std::to_string(run) + ", cut " + std::to_string(cut));
      fault_.FreezeAfter(rng_() % 400);
      for (int step = 0; step < 30 && !fault_.frozen(); ++step) {
        const bool done = Step();
        ASSERT_TRUE(done || fault_.frozen()) << "a step failed with the power on";
      }
      mid_op += fault_.frozen();
      store_.reset();
      fault_.CutPower(rng_());
      ++cuts;
      ASSERT_TRUE(Open());
      ASSERT_NO_FATAL_FAILURE(CheckAfterCut());
      if (HasFailure()) return;
    }
    store_.reset();
  }
  EXPECT_GT(mid_op, cuts / 2);
}

}  // namespace
}  // namespace store
}  // namespace quill
