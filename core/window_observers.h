#pragma once
// What the core tells the layers above it about windows and web views, so that
// it names none of them: app/ subscribes the menus, the navigation state and the
// web views' delegates before start-up (app/window_observers.h). Main thread
// only; observers hear each notice in the order they were added.

#include <string>

#include "platform/observers.h"
#include "platform/webview.h"
#include "platform/window.h"

struct WindowObservers {
  // A web view was made (the main window's, a WINOPEN window's or a popup's),
  // after its page bridge and user agent: its delegates go on now.
  platform::ObserverList<platform::WebView*> view_made;
  // A further window was made around its view, before it is placed: what
  // belongs to its frame (the menu bar's height) comes now. Id and window.
  platform::ObserverList<const std::string&, platform::NativeWindow*> window_made;
  // A registered window closed: once, however it closed, after WINCLOSED went
  // out and before its objects are released.
  platform::ObserverList<const std::string&> window_closed;
  // A closed window's web view is being released, after the page bridge forgot it.
  platform::ObserverList<platform::WebView*> view_released;
};

// The one set of lists, for the whole process.
WindowObservers& window_observers();

// Tells view_made about a new web view; null is ignored.
void quib_apply_web_delegates(platform::WebView* view);
