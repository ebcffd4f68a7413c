#pragma once
// GET <id> <key>: the backend's read-only questions about the host and the
// system. do_get answers each with exactly one line GOT <id> <json>.

#include <memory>
#include <string>

#include "core/records.h"
#include "services/get_reply.h"

// Answers key through reply, now or later. Keys are matched in a fixed order,
// exactly or by prefix, case-sensitively; any other key answers "null".
void answer_get(void* w, const std::string& key, const std::shared_ptr<GetReply>& reply);

// GET: answers the key through one GetReply.
void do_get(void* w, std::unique_ptr<GetReq> r);
