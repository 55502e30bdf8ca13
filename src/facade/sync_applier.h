// Applies one decoded sync page to an account's store (UI thread): the
// server commands in list order inside one store batch, the embedded
// briefs in another, then the new sync key.
//
// A page is applied whole or the key does not move: every store operation
// is checked, and the first that fails stops the page. What it changed
// before stays, and the next sync asks for the same page again, which is
// harmless: a command for something already gone or already there changes
// nothing, and a replayed RBCMD_AddMail for a mail already held rewrites
// only its head (flags, folder, date, subject, sender), never its body
// state, lengths or version, so a page sent twice cannot lose a fetched
// body.
#ifndef QUILL_FACADE_SYNC_APPLIER_H_
#define QUILL_FACADE_SYNC_APPLIER_H_

#include <cstdint>

#include "commands/sync_message.h"
#include "store/account_store.h"

namespace quill {
namespace facade {

// What a page did, for the new-mail events.
struct SyncPageStats {
  int unread_added = 0;  // mails added with the unread bit
};

// Applies one page and moves the sync key on; a durable page makes the
// store durable and saves the key (see SetSyncKey). False when a store
// operation or a write of the page's batch failed: the key stays where it
// was and *stats counts nothing.
bool ApplySyncPage(store::AccountStore* store, const commands::SyncResponse& page, bool durable,
                   SyncPageStats* stats);

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_SYNC_APPLIER_H_
