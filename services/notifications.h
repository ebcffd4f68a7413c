#pragma once
// Notifications: NOTIFY and the NOTIFYCLICK / NOTIFYACTION events, through the
// desktop's notification server.

#include <memory>

#include "core/records.h"

// Listens for the server's signals; in bundle mode only (called once at start-up).
void install_notif_delegate();

// The notification state, for tests: back to "not asked", nothing shown.
void notif_reset_for_tests();

// NOTIFY: shown once the desktop has a notification server; queued while that is
// being asked.
void do_notify(void* w, std::unique_ptr<NotifReq> r);
