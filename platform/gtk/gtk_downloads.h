#pragma once
// Downloads and file drops of WebKitGTK web views.

#include <webkit2/webkit2.h>

#include "platform/webview.h"

namespace platform::gtk {

// The view's downloads are decided and reported through events (empty: WebKit's
// own behaviour). Replaces what was set before.
void set_view_download_events(WebKitWebView* view, DownloadEvents events);
// Files dropped onto the view reach handler before the page sees the drop.
void set_view_drop_handler(WebKitWebView* view, DropHandler handler);
// The view's page goes away: nothing set above is called any more.
void forget_view_downloads_and_drops(WebKitWebView* view);

}  // namespace platform::gtk
