#include "core/window_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

#include "base/json_out.h"
#include "base/utf8.h"
#include "core/debug_notes.h"
#include "core/page_bridge.h"
#include "core/page_files.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_class.h"
#include "core/window_chrome.h"
#include "core/window_observers.h"
#include "core/window_ops.h"
#include "core/window_registry.h"
#include "core/window_screens.h"
#include "core/window_state.h"
#include "core/wire.h"
#include "platform/platform.h"
#include "platform/webview_lib.h"

using platform::NativeWindow;

namespace {

bool left_button_down() {
  platform::Application* a = platform::application();
  return a && a->left_button_down();
}

// Releases a closed window's objects, the window last.
void release_window(QuibWindow& qw) {
  if (qw.webview) {
    detach_quib_bridge(qw.webview.get());
    forget_first_mouse(qw.webview.get());
    window_observers().view_released.notify(qw.webview.get());
  }
  if (qw.window) qw.window->set_content(nullptr);
  qw.webview.reset();
  qw.effectView.reset();
  qw.window.reset();
}

}  // namespace

void window_did_close(const std::string& id, NativeWindow* window) {
  std::vector<NativeWindow*> children = window->child_windows();
  if (!children.empty()) {
    platform::current().main_queue().post([window, children] {
      // The closing window is released after this pass; a child may have gone already.
      for (NativeWindow* child : children) {
        if (winid_for_nswindow(child).empty()) continue;
        window->remove_child_window(child);
        child->close();
      }
    });
  }
  sock_write_line("WINCLOSED " + id);
  g_last_winstate.erase(id);
  g_traffic_pos.erase(id);
  g_traffic_default.erase(id);
  forget_fullscreen_reentry(window);
  window_observers().window_closed.notify(id);
  auto it = g_windows.find(id);
  if (it == g_windows.end() || it->second.window.get() != window) return;
  auto held = std::make_shared<QuibWindow>(std::move(it->second));
  g_windows.erase(it);
  platform::current().main_queue().post([held] { release_window(*held); });
}

QuibWindow* make_registry_window(const std::string& id, std::unique_ptr<platform::WebView> view,
                                 const platform::WindowParams& params) {
  if (!view) return nullptr;
  view->enable_webgpu();
  view->enable_file_access();
  if (settings().debug_on) view->set_developer_extras(true);
  forward_page_console(view.get(), id);
  std::unique_ptr<NativeWindow> window = platform::current().make_window(params);
  if (!window) return nullptr;
  // The bar's height belongs to the frame: it comes before the window is placed.
  window_observers().window_made.notify(id, window.get());
  center_window(window.get());

  attach_quib_bridge(view.get(), id);
  window->set_content(view.get());
  if (!settings().user_agent.empty()) view->set_user_agent(settings().user_agent);
  quib_apply_web_delegates(view.get());

  NativeWindow* win = window.get();
  win->set_events({{}, {}, {}, [id, win] { window_did_close(id, win); }});
  QuibWindow& entry = g_windows[id];
  entry.window = std::move(window);
  entry.webview = std::move(view);
  return &entry;
}

void do_winopen(void* w, std::unique_ptr<WinOpenReq> r) {
  if (r->id.empty() || r->id == "main" || g_windows.count(r->id)) {
    if (NativeWindow* existing = window_for_id(w, r->id)) bring_forward(existing);
    return;
  }
  const std::string id = r->id;
  if (!window_id_acceptable(id)) {
    std::fprintf(stderr,
                 "quibex: WINOPEN refused the window id %s: an id is UTF-8 without spaces, control characters, "
                 "colons or quotes, and is not \"*\"\n",
                 json_escape(utf8_sanitize(id)).c_str());
    return;
  }
  platform::WindowParams params;
  params.title = utf8_sanitize(r->title.empty() ? id : r->title);
  params.width = r->width;
  params.height = r->height;
  params.panel = r->panel;
  QuibWindow* entry = make_registry_window(id, platform::current().make_webview(), params);
  if (!entry) return;
  NativeWindow* win = entry->window.get();
  platform::WebView* webview = entry->webview.get();

  // Registered first: the page's navigation questions name the window.
  if (is_web_url(r->url)) {
    webview->navigate(r->url);
  } else if (!r->url.empty()) {
    const std::string path = page_file_path(r->url);
    if (path.empty())
      std::fprintf(stderr, "quibex: WINOPEN %s: cannot find the page %s: the working directory is gone\n",
                   id.c_str(), r->url.c_str());
    else
      load_page_file(webview, path);
  }

  if (!r->titlebar.empty() || !r->buttons.empty() || !r->transparent.empty() || !r->material.empty() ||
      !r->square.empty() || !r->firstMouse.empty() || !r->traffic.empty()) {
    ChromeReq chrome{id, r->titlebar, r->buttons, r->transparent, r->material, r->square, r->firstMouse, r->traffic};
    if (std::unique_ptr<EffectView>* slot = effect_slot_for(id))
      apply_chrome_fields(win, webview, slot, false, chrome);
  }

  if (r->hasPos) {
    std::vector<ScreenInfo> screens = screens_now();
    const Rect s = screens.empty() ? Rect{} : screens[0].frame;
    set_frame_top_left(win, r->x, s.y + s.h - r->y);
  }
  bring_forward(win);

  if (!r->parent.empty())
    if (NativeWindow* parent = window_for_id(w, r->parent); parent && parent != win) parent->add_child_window(win);

  if (settings().debug_open) webview->open_inspector();
}

void do_winclose(void*, std::unique_ptr<std::string> id) {
  if (id->empty() || *id == "main") return;
  auto it = g_windows.find(*id);
  if (it != g_windows.end() && it->second.window) it->second.window->close();
}

void do_title(void* w, std::unique_ptr<std::string> title) {
  // Windowless: there is no main window to name.
  if (w) webview_set_title(w, utf8_sanitize(*title));
}

void do_title_win(void* w, std::unique_ptr<EvalReq> r) {
  NativeWindow* window = window_for_id(w, r->win);
  if (!window) return;
  const std::string title = utf8_sanitize(r->text);
  if (r->win == "main")
    webview_set_title(w, title);
  else
    window->set_title(title);
}

void do_size(void* w, std::unique_ptr<SizeReq> r) {
  NativeWindow* window = window_for_id(w, r->window);
  if (!window || r->width < 1 || r->height < 1) return;
  set_content_size_keep_top(window, r->width, r->height);
}

void do_dragwin(void* w, std::unique_ptr<std::string> id) {
  NativeWindow* window = window_for_id(w, *id);
  if (window && left_button_down()) window->begin_move_drag();
}

void do_resizewin(void* w, std::unique_ptr<ResizeReq> r) {
  if (!left_button_down()) return;
  NativeWindow* window = window_for_id(w, r->window);
  if (!window || !(window->style_mask() & platform::kStyleResizable)) return;
  auto has = [&](char c) { return r->edge.find(c) != std::string::npos; };
  // A later letter wins over its opposite: "w" over "e", "s" over "n".
  platform::ResizeEdges edges;
  edges.left = has('w');
  edges.right = !edges.left && has('e');
  edges.bottom = has('s');
  edges.top = !edges.bottom && has('n');
  if (!edges.any()) return;
  const platform::Size min = window->content_min_size();
  Rect f = window->frame_rect_for_content({0, 0, min.w, min.h});
  window->begin_resize_drag(edges, {std::max(f.w, 120.0), std::max(f.h, 80.0)});
}

void do_dragout(void* w, std::unique_ptr<DragOutReq> r) {
  NativeWindow* window = window_for_id(w, r->window);
  if (!window || !webview_for_id(w, r->window) || r->paths.empty() || !left_button_down()) return;
  // A relative path names a file in the working directory; a drop target needs the
  // whole path.
  std::error_code ec;
  for (std::string& p : r->paths)
    if (!p.empty()) {
      std::filesystem::path a = std::filesystem::absolute(p, ec);
      if (!ec) p = a.lexically_normal().string();
    }
  window->begin_file_drag(r->paths, r->icon);
}
