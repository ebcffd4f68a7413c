#pragma once
// PERMCHK and PERMREQ: the desktop's privacy permissions, one answer per question.

#include <memory>
#include <string>

#include "core/records.h"

// The bundle says why it wants the location (set by start-up).
extern bool g_location_usage_described;

void perm_reply(const std::string& id, const std::string& status);

// Forgets the location state (tests).
void permissions_reset_for_tests();

// PERMCHK and PERMREQ.
void do_perm(void* w, std::unique_ptr<PermReq> record);
