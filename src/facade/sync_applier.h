// Applies one decoded sync page to an account's store (UI thread): the
// server commands in list order inside one store batch, then the new sync
// key.
//
// A replayed RBCMD_AddMail for a mail already held rewrites only its head
// (flags, folder, date, subject, sender), never its body state, lengths or
// version, so a page sent twice cannot lose a fetched body.
#ifndef QUILL_FACADE_SYNC_APPLIER_H_
#define QUILL_FACADE_SYNC_APPLIER_H_

#include <cstdint>

#include "commands/sync_message.h"
#include "store/account_store.h"

namespace quill {
namespace facade {

// What a page did, for the new-mail events.
struct SyncPageStats {
  int unread_added = 0;  // RBCMD_AddMail commands with the unread bit
  int applied = 0;       // commands that changed the store
};

// Applies one page in one store batch and moves the sync key on; a durable
// page makes the store durable and saves the key (see SetSyncKey). False
// when the new key could not be set (the page then counts as not applied
// and the job stops with step 100).
bool ApplySyncPage(store::AccountStore* store, const commands::SyncResponse& page, bool durable,
                   SyncPageStats* stats);

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_SYNC_APPLIER_H_
