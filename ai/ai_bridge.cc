// The on-device AI bridge. Nothing answers tool results until the model bridge
// exists; the request handler deletes its record.

#include <string>

#include "core/handlers.h"
#include "core/records.h"

void do_ai(void*, void* rec) { delete_record<AiReq>(rec); }

void ai_tool_result(long, const std::string&) {}
