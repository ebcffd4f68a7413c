// Menu nodes as GTK menus and WebKit context menus.
//
// Every item the backend describes is a check item, so that a check mark can
// come and go in place; GTK toggles a check item itself when it is chosen, so the
// host puts the mark back as the node says right after: only the backend changes
// it. Key equivalents are shown beside the items but carried out by the host's
// key handler, so they work whether or not a bar is showing.

#include "platform/gtk/gtk_menu.h"

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "platform/gtk/glib_ptr.h"

namespace platform::gtk {

namespace {

// One drawn menu tree: its widgets by node, kept until the shell goes.
struct Presenter {
  std::shared_ptr<const MenuNode> root;
  MenuChosen chosen;
  EditingTarget target;
  std::multimap<const MenuNode*, GtkWidget*> widgets;
  int observer = 0;
  bool syncing = false;
};

// What an activated widget needs: its presenter and its node.
struct ItemData {
  Presenter* presenter;
  const MenuNode* node;
};

void apply_state(Presenter* p, GtkWidget* w, const MenuNode& n) {
  p->syncing = true;
  if (GTK_IS_CHECK_MENU_ITEM(w)) gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(w), n.checked);
  p->syncing = false;
  gtk_widget_set_sensitive(w, n.enabled && n.tag == 0);
}

void on_activate(GtkMenuItem* item, ItemData* d) {
  Presenter* p = d->presenter;
  if (p->syncing) return;
  const MenuNode& n = *d->node;
  // The check mark is the backend's to change.
  apply_state(p, GTK_WIDGET(item), n);
  if (n.command >= MenuCommand::kUndo) {
    if (p->target)
      if (WebKitWebView* v = p->target()) run_editing_command(v, n.command);
    return;
  }
  if (p->chosen) p->chosen(n);
}

GtkWidget* make_item(Presenter* p, const std::shared_ptr<MenuNode>& n);

// Every item can carry a check mark, but only a checked one shows its box, as menus
// do where a mark is the exception.
void style_menu(GtkWidget* shell) {
  static GtkCssProvider* css = [] {
    GtkCssProvider* c = gtk_css_provider_new();
    gtk_css_provider_load_from_data(c,
                                    ".quibex-menu check:not(:checked) { -gtk-icon-source: none; "
                                    "background: none; border-color: transparent; box-shadow: none; }",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(c),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    return c;
  }();
  (void)css;
  gtk_style_context_add_class(gtk_widget_get_style_context(shell), "quibex-menu");
}

void fill(Presenter* p, GtkMenuShell* shell, const MenuNode& menu) {
  style_menu(GTK_WIDGET(shell));
  for (const auto& item : menu.items)
    if (item) gtk_menu_shell_append(shell, make_item(p, item));
}

GtkWidget* make_item(Presenter* p, const std::shared_ptr<MenuNode>& n) {
  if (n->separator) {
    GtkWidget* sep = gtk_separator_menu_item_new();
    gtk_widget_show(sep);
    return sep;
  }
  GtkWidget* w;
  if (!n->items.empty()) {
    w = gtk_menu_item_new_with_label(n->title.c_str());
    GtkWidget* sub = gtk_menu_new();
    fill(p, GTK_MENU_SHELL(sub), *n);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(w), sub);
  } else {
    w = gtk_check_menu_item_new_with_label(n->title.c_str());
    guint keyval;
    GdkModifierType mods;
    if (node_accelerator(*n, keyval, mods))
      if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(w)); GTK_IS_ACCEL_LABEL(label))
        gtk_accel_label_set_accel(GTK_ACCEL_LABEL(label), keyval, mods);
    g_signal_connect_data(w, "activate", G_CALLBACK(on_activate), new ItemData{p, n.get()},
                          +[](gpointer d, GClosure*) { delete static_cast<ItemData*>(d); }, GConnectFlags(0));
  }
  apply_state(p, w, *n);
  p->widgets.emplace(n.get(), w);
  g_signal_connect(w, "destroy", G_CALLBACK(+[](GtkWidget* gone, Presenter* pr) {
                     for (auto it = pr->widgets.begin(); it != pr->widgets.end();)
                       it = it->second == gone ? pr->widgets.erase(it) : std::next(it);
                   }),
                   p);
  gtk_widget_show(w);
  return w;
}

void on_node_changed(Presenter* p, const MenuNode* n) {
  auto range = p->widgets.equal_range(n);
  for (auto it = range.first; it != range.second; ++it) {
    GtkWidget* w = it->second;
    if (GTK_IS_MENU_ITEM(w)) gtk_menu_item_set_label(GTK_MENU_ITEM(w), n->title.c_str());
    apply_state(p, w, *n);
  }
}

// The UTF-8 text of one character, or "" when s is not exactly one.
std::string one_char(const std::string& s) {
  if (s.empty()) return "";
  gunichar c = g_utf8_get_char_validated(s.c_str(), gssize(s.size()));
  if (c == gunichar(-1) || c == gunichar(-2)) return "";
  return g_utf8_next_char(s.c_str()) == s.c_str() + s.size() ? s : "";
}

}  // namespace

void run_editing_command(WebKitWebView* view, MenuCommand command) {
  const char* name = nullptr;
  switch (command) {
    case MenuCommand::kUndo: name = WEBKIT_EDITING_COMMAND_UNDO; break;
    case MenuCommand::kRedo: name = WEBKIT_EDITING_COMMAND_REDO; break;
    case MenuCommand::kCut: name = WEBKIT_EDITING_COMMAND_CUT; break;
    case MenuCommand::kCopy: name = WEBKIT_EDITING_COMMAND_COPY; break;
    case MenuCommand::kPaste: name = WEBKIT_EDITING_COMMAND_PASTE; break;
    case MenuCommand::kSelectAll: name = WEBKIT_EDITING_COMMAND_SELECT_ALL; break;
    default: return;
  }
  if (view) webkit_web_view_execute_editing_command(view, name);
}

void fill_menu_shell(GtkMenuShell* shell, std::shared_ptr<const MenuNode> menu, MenuChosen chosen,
                     EditingTarget target) {
  if (!menu) return;
  auto* p = new Presenter{menu, std::move(chosen), std::move(target), {}, 0, false};
  p->observer = add_menu_observer([p](const MenuNode* n) { on_node_changed(p, n); });
  fill(p, shell, *menu);
  g_signal_connect(shell, "destroy", G_CALLBACK(+[](GtkWidget*, Presenter* pr) {
                     remove_menu_observer(pr->observer);
                     // Items already gone or going: none is touched again.
                     pr->widgets.clear();
                     g_idle_add(+[](gpointer d) -> gboolean {
                       delete static_cast<Presenter*>(d);
                       return G_SOURCE_REMOVE;
                     }, pr);
                   }),
                   p);
}

bool node_accelerator(const MenuNode& node, guint& keyval, GdkModifierType& mods) {
  const std::string key = one_char(node.key);
  if (key.empty()) return false;
  gunichar c = g_utf8_get_char(key.c_str());
  int m = 0;
  if (g_unichar_isupper(c)) {
    m |= GDK_SHIFT_MASK;
    c = g_unichar_tolower(c);
  }
  if (node.modifiers & kModShift) m |= GDK_SHIFT_MASK;
  if (node.modifiers & kModOption) m |= GDK_MOD1_MASK;
  const bool cmd = node.modifiers & kModCommand, ctrl = node.modifiers & kModControl;
  // Command is the desktop's primary modifier; with Control beside it, Super.
  if (cmd && ctrl)
    m |= GDK_SUPER_MASK | GDK_CONTROL_MASK;
  else if (cmd || ctrl)
    m |= GDK_CONTROL_MASK;
  keyval = gdk_unicode_to_keyval(c);
  mods = GdkModifierType(m);
  return keyval != 0;
}

KeyChord key_chord_of(const GdkEventKey* e) {
  KeyChord k;
  const guint state = e->state;
  k.shift = state & GDK_SHIFT_MASK;
  const gunichar c = gdk_keyval_to_unicode(e->keyval);
  if (c) {
    const gunichar lc = g_unichar_isalpha(c) ? g_unichar_tolower(c) : c;
    char buf[8];
    k.key.assign(buf, size_t(g_unichar_to_utf8(lc, buf)));
  } else if (const char* name = gdk_keyval_name(e->keyval)) {
    k.name = name;  // X keysym names: "F12", "Home"
  }
  const bool ctrl = state & GDK_CONTROL_MASK, super = state & (GDK_SUPER_MASK | GDK_MOD4_MASK);
  if (ctrl && super)
    k.modifiers |= kModCommand | kModControl;
  else if (ctrl)
    k.modifiers |= kModCommand;
  else if (super)
    k.modifiers |= std::uint64_t(1) << 40;  // Super alone names no menu modifier
  if (state & GDK_MOD1_MASK) k.modifiers |= kModOption;
  if (k.shift) k.modifiers |= kModShift;
  return k;
}

namespace {

void add_context_items(WebKitContextMenu* menu, const MenuNode& node, const MenuChosen& chosen,
                       WebKitWebView* view, const std::shared_ptr<const MenuNode>& keep) {
  for (const auto& item : node.items) {
    if (!item) continue;
    if (item->separator) {
      webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
      continue;
    }
    if (!item->items.empty()) {
      WebKitContextMenu* sub = webkit_context_menu_new();
      add_context_items(sub, *item, chosen, view, keep);
      webkit_context_menu_append(menu, webkit_context_menu_item_new_with_submenu(item->title.c_str(), sub));
      continue;
    }
    WebKitContextMenuAction stock = WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION;
    switch (item->command) {
      case MenuCommand::kCut: stock = WEBKIT_CONTEXT_MENU_ACTION_CUT; break;
      case MenuCommand::kCopy: stock = WEBKIT_CONTEXT_MENU_ACTION_COPY; break;
      case MenuCommand::kPaste: stock = WEBKIT_CONTEXT_MENU_ACTION_PASTE; break;
      case MenuCommand::kSelectAll: stock = WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL; break;
      default: break;
    }
    if (stock != WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION) {
      webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(stock));
      continue;
    }
    // One action per item, each with a name of its own (WebKit keeps them by name);
    // a checked state makes WebKit draw a check item.
    static unsigned serial = 0;
    const std::string name = "quibex-item-" + std::to_string(++serial);
    GObjectPtr<GSimpleAction> action(
        item->checked ? g_simple_action_new_stateful(name.c_str(), nullptr, g_variant_new_boolean(TRUE))
                      : g_simple_action_new(name.c_str(), nullptr));
    g_simple_action_set_enabled(action.get(), item->enabled && item->tag == 0);
    struct Data {
      std::shared_ptr<const MenuNode> keep;
      const MenuNode* node;
      MenuChosen chosen;
      WebKitWebView* view;
    };
    auto* d = new Data{keep, item.get(), chosen, view};
    g_signal_connect_data(action.get(), "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, Data* data) {
                            const MenuNode& n = *data->node;
                            if (n.command >= MenuCommand::kUndo)
                              run_editing_command(data->view, n.command);
                            else if (data->chosen)
                              data->chosen(n);
                          }),
                          d, +[](gpointer p, GClosure*) { delete static_cast<Data*>(p); }, GConnectFlags(0));
    webkit_context_menu_append(
        menu, webkit_context_menu_item_new_from_gaction(G_ACTION(action.get()), item->title.c_str(), nullptr));
  }
}

}  // namespace

void fill_context_menu(WebKitContextMenu* menu, std::shared_ptr<const MenuNode> items, MenuChosen chosen,
                       WebKitWebView* view) {
  webkit_context_menu_remove_all(menu);
  if (items) add_context_items(menu, *items, chosen, view, items);
}

}  // namespace platform::gtk
