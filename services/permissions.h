#pragma once
// PERMCHK and PERMREQ: the desktop's privacy permissions, one answer per question.

#include <string>

// The bundle says why it wants the location (set by start-up).
extern bool g_location_usage_described;

void perm_reply(const std::string& id, const std::string& status);

// Forgets the location state (tests).
void permissions_reset_for_tests();
