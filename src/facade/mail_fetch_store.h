// Stores a brief or a body slice in an account's store (UI thread): the
// mail's record fields and its per-mail files.
//
// Body offsets and lengths count UTF-16 code units. A body already
// complete, or a slice that does not continue the text held, changes
// nothing.
#ifndef QUILL_FACADE_MAIL_FETCH_STORE_H_
#define QUILL_FACADE_MAIL_FETCH_STORE_H_

#include <cstdint>

#include "commands/body_message.h"
#include "commands/brief_message.h"
#include "store/account_store.h"

namespace quill {
namespace facade {

// Head, recipients, attachment list and the brief text as the body. False
// when the mail is gone or a write failed (the record is then unchanged).
bool StoreBrief(store::AccountStore* store, uint32_t mail_id, const commands::BriefResponse& brief);

// A getmailbody answer (result 0 or -7) for the slice asked at
// asked_offset. A -7 answer that does not start at 0 keeps the body held
// (true: the caller asks again from 0). False when nothing could be
// stored.
bool StoreBodySlice(store::AccountStore* store, uint32_t mail_id, int32_t asked_offset,
                    const commands::BodyResponse& body);

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_MAIL_FETCH_STORE_H_
