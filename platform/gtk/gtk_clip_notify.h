#pragma once
// The clipboard (the CLIPBOARD selection through GTK) and the notification
// server (org.freedesktop.Notifications on the session bus).

#include "platform/clipboard.h"
#include "platform/notifications.h"

namespace platform::gtk {

Clipboard& gtk_clipboard();
Notifier& gtk_notifier();

}  // namespace platform::gtk
