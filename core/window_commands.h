#pragma once
// The window commands that are not window operations or chrome (WINOPEN,
// WINCLOSE, TITLE, SIZE, DRAGWIN, RESIZEWIN, DRAGOUT), and the close path that
// reports WINCLOSED.

#include <memory>
#include <string>

#include "core/records.h"
#include "core/window_registry.h"
#include "platform/webview.h"
#include "platform/window.h"

// Makes a further window around a view and registers it under id (which the caller
// has checked): the view gets the page bridge, the shared delegates and the user
// agent; the window its menu bar, a centred place and the close path. The window
// stays hidden and nothing is loaded. WINOPEN windows and popup windows are made
// here. Null, with nothing registered, when the desktop cannot make the window.
QuibWindow* make_registry_window(const std::string& id, std::unique_ptr<platform::WebView> view,
                                 const platform::WindowParams& params);

// The close path of a registered window: runs once, however the window closes.
void window_did_close(const std::string& id, platform::NativeWindow* window);

// The handlers of WINOPEN, WINCLOSE (the window id), TITLE (the main window's
// title), TITLE@ (EvalReq, its text the title), SIZE, DRAGWIN (the window id),
// RESIZEWIN and DRAGOUT.
void do_winopen(void* w, std::unique_ptr<WinOpenReq> r);
void do_winclose(void* w, std::unique_ptr<std::string> id);
void do_title(void* w, std::unique_ptr<std::string> title);
void do_title_win(void* w, std::unique_ptr<EvalReq> r);
void do_size(void* w, std::unique_ptr<SizeReq> r);
void do_dragwin(void* w, std::unique_ptr<std::string> id);
void do_resizewin(void* w, std::unique_ptr<ResizeReq> r);
void do_dragout(void* w, std::unique_ptr<DragOutReq> r);
