#pragma once
// Notifications: NOTIFY and the NOTIFYCLICK / NOTIFYACTION events, through the
// desktop's notification server.

// Listens for the server's signals; in bundle mode only (called once at start-up).
void install_notif_delegate();

// The notification state, for tests: back to "not asked", nothing shown.
void notif_reset_for_tests();
