// The tray item on the Linux desktop.
//
// The host serves a StatusNotifierItem itself on the session bus and registers
// it with the StatusNotifierWatcher; its menu is exported as com.canonical.dbusmenu
// through libdbusmenu-glib, on the same connection. While no watcher is on the
// bus (or there is no bus at all) the item is an XEmbed tray icon instead, and it
// moves to whichever side becomes available later. Everything runs on the main
// context; the bus connection is made and image files are read on worker threads,
// so a slow bus or file never stalls a command.
//
// Panels learn an item's Menu and ItemIsMenu only when it registers (the
// protocol has no change signal for them), so when those change the item
// registers anew under a fresh bus name.

#include "platform/gtk/gtk_tray.h"

#include <gtk/gtk.h>
#include <libdbusmenu-glib/client.h>
#include <libdbusmenu-glib/server.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "platform/gtk/gtk_identity.h"
#include "platform/gtk/gtk_menu.h"
#include "platform/gtk/gtk_screens.h"

namespace platform::gtk {

namespace tray {

PixelSize image_size(int w, int h, int scale) {
  const double ratio = h > 0 ? double(w) / double(h) : 1.0;
  const int height = kImageHeight * scale;
  const double width = std::clamp(std::round(height * ratio), 1.0, double(kMaxImageWidth * scale));
  return {int(width), height};
}

std::vector<std::uint8_t> argb32(const GdkPixbuf* pixbuf) {
  std::vector<std::uint8_t> out;
  if (!pixbuf || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8) return out;
  const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = gdk_pixbuf_get_n_channels(pixbuf);
  const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
  const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
  out.reserve(size_t(w) * size_t(h) * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const guchar* p = pixels + size_t(y) * size_t(stride) + size_t(x) * size_t(channels);
      out.insert(out.end(), {alpha ? p[3] : std::uint8_t(255), p[0], p[1], p[2]});
    }
  return out;
}

std::string dbusmenu_label(const std::string& title) {
  std::string out;
  out.reserve(title.size());
  for (char c : title) {
    out += c;
    if (c == '_') out += '_';
  }
  return out;
}

ClickAction click_action(Click click, bool has_menu) {
  switch (click) {
    case Click::kPrimary: return has_menu ? ClickAction::kOpenMenu : ClickAction::kHostPrimary;
    case Click::kSecondary: return has_menu ? ClickAction::kOpenMenu : ClickAction::kHostSecondary;
    case Click::kMiddle: break;
  }
  return ClickAction::kNothing;
}

namespace {

// The key equivalent as dbusmenu's shortcut property: modifier names, then the key.
GVariant* shortcut_of(const MenuNode& node) {
  guint keyval = 0;
  GdkModifierType mods{};
  if (!node_accelerator(node, keyval, mods)) return nullptr;
  const gchar* key = gdk_keyval_name(keyval);
  if (!key) return nullptr;
  GVariantBuilder one;
  g_variant_builder_init(&one, G_VARIANT_TYPE("as"));
  if (mods & GDK_CONTROL_MASK) g_variant_builder_add(&one, "s", "Control");
  if (mods & GDK_MOD1_MASK) g_variant_builder_add(&one, "s", "Alt");
  if (mods & GDK_SHIFT_MASK) g_variant_builder_add(&one, "s", "Shift");
  if (mods & GDK_SUPER_MASK) g_variant_builder_add(&one, "s", "Super");
  g_variant_builder_add(&one, "s", key);
  GVariantBuilder all;
  g_variant_builder_init(&all, G_VARIANT_TYPE("aas"));
  g_variant_builder_add_value(&all, g_variant_builder_end(&one));
  return g_variant_builder_end(&all);
}

}  // namespace

DbusmenuTree::DbusmenuTree(std::shared_ptr<const MenuNode> menu, MenuChosen chosen)
    : menu_(std::move(menu)), chosen_(std::move(chosen)) {
  root_.reset(dbusmenu_menuitem_new_with_id(0));
  if (menu_) add_children(root_.get(), *menu_);
  observer_ = add_menu_observer([this](const MenuNode* n) { node_changed(n); });
}

DbusmenuTree::~DbusmenuTree() { remove_menu_observer(observer_); }

DbusmenuMenuitem* DbusmenuTree::item_for(const MenuNode* node) const {
  auto it = items_.find(node);
  return it == items_.end() ? nullptr : it->second;
}

void DbusmenuTree::add_children(DbusmenuMenuitem* parent, const MenuNode& node) {
  for (const auto& child : node.items) {
    if (!child) continue;
    GObjectPtr<DbusmenuMenuitem> owned(dbusmenu_menuitem_new());
    DbusmenuMenuitem* item = owned.get();
    if (child->separator) {
      dbusmenu_menuitem_property_set(item, DBUSMENU_MENUITEM_PROP_TYPE, DBUSMENU_CLIENT_TYPES_SEPARATOR);
    } else {
      apply(item, *child);
      if (!child->items.empty()) {
        dbusmenu_menuitem_property_set(item, DBUSMENU_MENUITEM_PROP_CHILD_DISPLAY,
                                       DBUSMENU_MENUITEM_CHILD_DISPLAY_SUBMENU);
        add_children(item, *child);
      } else {
        if (GVariant* keys = shortcut_of(*child))
          dbusmenu_menuitem_property_set_variant(item, DBUSMENU_MENUITEM_PROP_SHORTCUT, keys);
        activations_.emplace_back(item, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(activated), this);
      }
    }
    items_.emplace(child.get(), item);
    nodes_[item] = child.get();
    dbusmenu_menuitem_child_append(parent, item);
  }
}

void DbusmenuTree::apply(DbusmenuMenuitem* item, const MenuNode& node) {
  dbusmenu_menuitem_property_set(item, DBUSMENU_MENUITEM_PROP_LABEL, dbusmenu_label(node.title).c_str());
  dbusmenu_menuitem_property_set_bool(item, DBUSMENU_MENUITEM_PROP_ENABLED, node.enabled && node.tag == 0);
  if (!node.items.empty()) return;
  // A check mark while checked and nothing otherwise, as the host's menus draw it.
  if (node.checked) {
    dbusmenu_menuitem_property_set(item, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE, DBUSMENU_MENUITEM_TOGGLE_CHECK);
    dbusmenu_menuitem_property_set_int(item, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                       DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED);
  } else {
    dbusmenu_menuitem_property_remove(item, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE);
    dbusmenu_menuitem_property_remove(item, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE);
  }
}

void DbusmenuTree::node_changed(const MenuNode* node) {
  auto range = items_.equal_range(node);
  for (auto it = range.first; it != range.second; ++it)
    if (!node->separator) apply(it->second, *node);
}

void DbusmenuTree::activated(DbusmenuMenuitem* item, guint, gpointer self) {
  auto* tree = static_cast<DbusmenuTree*>(self);
  auto it = tree->nodes_.find(item);
  if (it == tree->nodes_.end()) return;
  const MenuNode& node = *it->second;
  // A panel may send events for items it shows greyed out; they choose nothing.
  if (!node.enabled || node.tag != 0 || node.separator || !node.items.empty()) return;
  // Editing commands need a page, and a tray menu has none.
  if (node.command >= MenuCommand::kUndo) return;
  // The choice may replace this tree; the menu and the callback outlive it.
  std::shared_ptr<const MenuNode> keep = tree->menu_;
  MenuChosen chosen = tree->chosen_;
  if (chosen) chosen(node);
}

}  // namespace tray

namespace {

using tray::Click;
using tray::ClickAction;

constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kNoMenuPath[] = "/NO_DBUSMENU";

constexpr char kItemXml[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="XAyatanaLabel" type="s" access="read"/>
    <property name="XAyatanaLabelGuide" type="s" access="read"/>
    <property name="XAyatanaOrderingIndex" type="u" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
    <signal name="XAyatanaNewLabel"><arg name="label" type="s"/><arg name="guide" type="s"/></signal>
  </interface>
</node>)xml";

GDBusInterfaceInfo* item_interface() {
  static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kItemXml, nullptr);
  return info ? info->interfaces[0] : nullptr;
}

// Tray items made by this process, so that each one's names and paths are its own.
unsigned g_item_serial = 0;

bool control_held() {
  GdkDisplay* display = gdk_display_get_default();
  GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return false;
  GdkModifierType mask{};
  gdk_window_get_device_position(gdk_screen_get_root_window(gdk_display_get_default_screen(display)), pointer,
                                 nullptr, nullptr, &mask);
  return mask & GDK_CONTROL_MASK;
}

// A stand-in for the click that a menu opened over the bus has no event of: the
// pointer where it is now.
GdkEvent* pointer_event() {
  GdkDisplay* display = gdk_display_get_default();
  GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return nullptr;
  GdkWindow* root = gdk_screen_get_root_window(gdk_display_get_default_screen(display));
  int x = 0, y = 0;
  gdk_window_get_device_position(root, pointer, &x, &y, nullptr);
  GdkEvent* e = gdk_event_new(GDK_BUTTON_PRESS);
  e->button.window = GDK_WINDOW(g_object_ref(root));
  e->button.send_event = TRUE;
  e->button.time = GDK_CURRENT_TIME;
  e->button.x = e->button.x_root = x;
  e->button.y = e->button.y_root = y;
  e->button.button = 1;
  gdk_event_set_device(e, pointer);
  return e;
}

// An image read on a worker thread: 1x and 2x, each 18 points high.
struct LoadedImage {
  GObjectPtr<GdkPixbuf> one, two;
};

void load_image_in_thread(GTask* task, gpointer, gpointer data, GCancellable*) {
  const auto* path = static_cast<const std::string*>(data);
  if (FILE* f = std::fopen(path->c_str(), "rb"))
    std::fclose(f);
  else {
    const int e = errno;
    g_task_return_new_error(task, G_IO_ERROR, g_io_error_from_errno(e), "%s", g_strerror(e));
    return;
  }
  int w = 0, h = 0;
  if (!gdk_pixbuf_get_file_info(path->c_str(), &w, &h)) {
    g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "not an image this desktop can read");
    return;
  }
  const tray::PixelSize two = tray::image_size(w, h, 2), one = tray::image_size(w, h, 1);
  GPtr<GError> error;
  GObjectPtr<GdkPixbuf> big(gdk_pixbuf_new_from_file_at_scale(path->c_str(), two.w, two.h, FALSE, out_ptr(error)));
  if (!big) return g_task_return_error(task, error.release());
  auto* out = new LoadedImage;
  out->one.reset(gdk_pixbuf_scale_simple(big.get(), one.w, one.h, GDK_INTERP_HYPER));
  out->two = std::move(big);
  g_task_return_pointer(task, out, [](gpointer p) { delete static_cast<LoadedImage*>(p); });
}

class Tray : public std::enable_shared_from_this<Tray> {
 public:
  Tray() : serial_(++g_item_serial), cancel_(g_cancellable_new()) {}

  void start();
  void shutdown();

  void set_image(const std::string& path, const std::string& icon_name, bool template_image);
  bool has_image() const { return one_ || !icon_name_.empty(); }
  void set_title(const std::string& title);
  void set_tooltip(const std::string& tooltip);
  void set_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen, bool secondary);
  void set_click_handler(std::function<void(bool, bool)> handler) { clicks_ = std::move(handler); }
  void popup(std::shared_ptr<const MenuNode> menu, MenuChosen chosen);
  std::optional<Rect> frame() const;

 private:
  enum class Mode { kUndecided, kSni, kXembed };
  // What panels read only at registration.
  struct Shape {
    bool menu = false;          // a menu is exported
    bool item_is_menu = false;  // a click opens it
    bool operator==(const Shape&) const = default;
  };

  std::weak_ptr<Tray>* weak() { return new std::weak_ptr<Tray>(weak_from_this()); }
  static std::shared_ptr<Tray> take(gpointer data) {
    std::unique_ptr<std::weak_ptr<Tray>> w(static_cast<std::weak_ptr<Tray>*>(data));
    std::shared_ptr<Tray> t = w->lock();
    return t && !t->down_ ? t : nullptr;
  }

  static void bus_ready(GObject*, GAsyncResult* result, gpointer data);
  void use_bus(GDBusConnection* bus);
  void bus_gone(const char* why);
  void use_sni();
  void use_xembed(const char* why);
  void own_name();
  void register_item();
  static void registered(GObject* source, GAsyncResult* result, gpointer data);
  Shape shape() const { return {menu_ || secondary_, menu_ != nullptr}; }
  void schedule_sync();
  void sync();
  void emit(const char* signal, GVariant* params = nullptr);
  void image_loaded(unsigned generation, LoadedImage* image, const char* error, const std::string& path);
  void image_changed();
  void apply_xembed();
  void clicked(Click click, bool control);
  void close_popup();

  static GVariant* get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                                GError**, gpointer self);
  static void method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                          GVariant*, GDBusMethodInvocation* invocation, gpointer self);
  GVariant* pixmaps() const;

  const unsigned serial_;
  GObjectPtr<GCancellable> cancel_;
  bool down_ = false;
  Mode mode_ = Mode::kUndecided;

  // What the item shows.
  std::string title_, tooltip_;
  std::string icon_name_;  // a theme icon that is shown; "" = none
  GObjectPtr<GdkPixbuf> one_, two_;
  bool template_ = true;  // kept: Linux trays do not tint images
  unsigned image_generation_ = 0;
  std::shared_ptr<const MenuNode> menu_, secondary_;
  MenuChosen chosen_, secondary_chosen_;
  std::function<void(bool, bool)> clicks_;
  GObjectPtr<GtkWidget> popup_;

  // The bus side.
  GObjectPtr<GDBusConnection> bus_;
  SignalConnection bus_closed_;
  guint object_id_ = 0, watch_id_ = 0, owner_id_ = 0, sync_id_ = 0;
  bool watcher_ = false, name_owned_ = false, register_sent_ = false;
  unsigned name_serial_ = 0;
  std::string bus_name_, menu_path_;
  Shape registered_shape_;
  GObjectPtr<DbusmenuServer> server_;
  std::unique_ptr<tray::DbusmenuTree> tree_;

  // The XEmbed side.
  GObjectPtr<GtkStatusIcon> icon_;
};

void Tray::start() {
  // Finding and connecting to the session bus can block (it may even start one),
  // so it happens on a worker thread.
  GObjectPtr<GTask> task(g_task_new(nullptr, cancel_.get(), bus_ready, weak()));
  g_task_run_in_thread(task.get(), [](GTask* t, gpointer, gpointer, GCancellable* cancel) {
    GPtr<GError> error;
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancel, out_ptr(error)))
      g_task_return_pointer(t, bus, g_object_unref);
    else
      g_task_return_error(t, error.release());
  });
}

void Tray::bus_ready(GObject*, GAsyncResult* result, gpointer data) {
  GPtr<GError> error;
  GObjectPtr<GDBusConnection> bus(
      static_cast<GDBusConnection*>(g_task_propagate_pointer(G_TASK(result), out_ptr(error))));
  std::shared_ptr<Tray> t = take(data);
  if (t && bus)
    t->use_bus(bus.get());
  else if (t)
    t->use_xembed(error ? error->message : "no session bus");
}

void Tray::use_bus(GDBusConnection* bus) {
  bus_ = add_ref(bus);
  // The shared connection would end the process when the bus goes away.
  g_dbus_connection_set_exit_on_close(bus_.get(), FALSE);
  bus_closed_ = SignalConnection(bus_.get(), "closed",
                                 G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, Tray* t) {
                                   t->bus_gone("the session bus closed");
                                 }),
                                 this);
  static const GDBusInterfaceVTable vtable = {method_call, get_property, nullptr, {}};
  GPtr<GError> error;
  GDBusInterfaceInfo* iface = item_interface();
  object_id_ =
      iface ? g_dbus_connection_register_object(bus_.get(), kItemPath, iface, &vtable, this, nullptr, out_ptr(error))
            : 0;
  if (!object_id_) return bus_gone(error ? error->message : "no interface");
  menu_path_ = "/MenuBar/" + std::to_string(serial_);
  server_.reset(dbusmenu_server_new(menu_path_.c_str()));
  sync();
  watch_id_ = g_bus_watch_name_on_connection(
      bus_.get(), kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      +[](GDBusConnection*, const gchar*, const gchar*, gpointer self) { static_cast<Tray*>(self)->use_sni(); },
      +[](GDBusConnection*, const gchar*, gpointer self) {
        auto* t = static_cast<Tray*>(self);
        t->watcher_ = false;
        t->register_sent_ = false;
        t->use_xembed("no StatusNotifierWatcher on the session bus");
      },
      this, nullptr);
}

void Tray::bus_gone(const char* why) {
  if (watch_id_) g_bus_unwatch_name(watch_id_);
  if (owner_id_) g_bus_unown_name(owner_id_);
  if (object_id_) g_dbus_connection_unregister_object(bus_.get(), object_id_);
  bus_closed_.disconnect();
  watch_id_ = owner_id_ = object_id_ = 0;
  watcher_ = name_owned_ = register_sent_ = false;
  server_.reset();
  tree_.reset();
  bus_.reset();
  if (!down_) use_xembed(why);
}

void Tray::use_sni() {
  watcher_ = true;
  if (mode_ != Mode::kSni && icon_) {
    // The panel shows the item from now on.
    g_signal_handlers_disconnect_by_data(icon_.get(), this);
    icon_.reset();
  }
  mode_ = Mode::kSni;
  register_sent_ = false;
  if (!owner_id_)
    own_name();
  else if (name_owned_)
    register_item();
}

void Tray::use_xembed(const char* why) {
  if (down_ || mode_ == Mode::kXembed) return;
  if (mode_ == Mode::kUndecided)
    std::fprintf(stderr, "quibex: %s; the tray item goes to the XEmbed system tray\n", why);
  mode_ = Mode::kXembed;
  if (!icon_) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    icon_.reset(gtk_status_icon_new());
    g_signal_connect(icon_.get(), "activate", G_CALLBACK(+[](GtkStatusIcon*, Tray* t) {
                       GdkModifierType state{};
                       const bool control = gtk_get_current_event_state(&state) && (state & GDK_CONTROL_MASK);
                       t->clicked(Click::kPrimary, control);
                     }),
                     this);
    g_signal_connect(icon_.get(), "popup-menu", G_CALLBACK(+[](GtkStatusIcon*, guint, guint, Tray* t) {
                       t->clicked(Click::kSecondary, false);
                     }),
                     this);
    G_GNUC_END_IGNORE_DEPRECATIONS
  }
  apply_xembed();
}

void Tray::own_name() {
  name_owned_ = false;
  bus_name_ = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(serial_) + "_" +
              std::to_string(++name_serial_);
  owner_id_ = g_bus_own_name_on_connection(
      bus_.get(), bus_name_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
      +[](GDBusConnection*, const gchar*, gpointer self) {
        auto* t = static_cast<Tray*>(self);
        t->name_owned_ = true;
        if (t->watcher_) t->register_item();
      },
      +[](GDBusConnection* bus, const gchar* name, gpointer self) {
        auto* t = static_cast<Tray*>(self);
        t->name_owned_ = false;
        if (bus) std::fprintf(stderr, "quibex: the tray item lost its bus name %s\n", name);
      },
      this, nullptr);
}

void Tray::register_item() {
  if (register_sent_ || !bus_ || !name_owned_) return;
  register_sent_ = true;
  registered_shape_ = shape();
  g_dbus_connection_call(bus_.get(), kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
                         g_variant_new("(s)", bus_name_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000,
                         cancel_.get(), registered, weak());
}

void Tray::registered(GObject* source, GAsyncResult* result, gpointer data) {
  GPtr<GError> error;
  GPtr<GVariant> reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, out_ptr(error)));
  std::shared_ptr<Tray> t = take(data);
  if (t && error && t->mode_ == Mode::kSni) {
    const std::string why =
        std::string("the StatusNotifierWatcher did not take the tray item (") + error->message + ")";
    t->mode_ = Mode::kUndecided;  // says why on stderr
    t->use_xembed(why.c_str());
  }
}

void Tray::schedule_sync() {
  if (sync_id_ || down_) return;
  sync_id_ = g_idle_add(+[](gpointer self) -> gboolean {
    auto* t = static_cast<Tray*>(self);
    t->sync_id_ = 0;
    t->sync();
    return G_SOURCE_REMOVE;
  }, this);
}

// Brings the exported menu and the registration in line with the item's state,
// once for a whole series of changes.
void Tray::sync() {
  if (!server_) return;
  std::shared_ptr<const MenuNode> want = menu_ ? menu_ : secondary_;
  if (!tree_ || tree_->menu() != want) {
    auto next = std::make_unique<tray::DbusmenuTree>(want, menu_ ? chosen_ : secondary_chosen_);
    dbusmenu_server_set_root(server_.get(), next->root());
    tree_ = std::move(next);
  }
  if (mode_ == Mode::kSni && register_sent_ && registered_shape_ != shape()) {
    // A fresh name: panels read Menu and ItemIsMenu again only for a new item.
    g_bus_unown_name(owner_id_);
    owner_id_ = 0;
    register_sent_ = false;
    own_name();
  }
}

void Tray::emit(const char* signal, GVariant* params) {
  if (!bus_ || !object_id_) {
    if (params) g_variant_unref(g_variant_ref_sink(params));
    return;
  }
  g_dbus_connection_emit_signal(bus_.get(), nullptr, kItemPath, kItemInterface, signal, params, nullptr);
}

void Tray::set_image(const std::string& path, const std::string& icon_name, bool template_image) {
  template_ = template_image;
  const unsigned generation = ++image_generation_;
  if (!path.empty()) {
    // The image shown so far stays until the new one is read.
    GObjectPtr<GTask> task(g_task_new(nullptr, cancel_.get(), +[](GObject*, GAsyncResult* result, gpointer data) {
      auto* info = static_cast<std::pair<std::weak_ptr<Tray>*, unsigned>*>(data);
      std::shared_ptr<Tray> t = take(info->first);
      const unsigned gen = info->second;
      delete info;
      GPtr<GError> error;
      std::unique_ptr<LoadedImage> image(
          static_cast<LoadedImage*>(g_task_propagate_pointer(G_TASK(result), out_ptr(error))));
      const auto* file = static_cast<const std::string*>(g_task_get_task_data(G_TASK(result)));
      if (t) t->image_loaded(gen, image.get(), error ? error->message : nullptr, *file);
    }, new std::pair<std::weak_ptr<Tray>*, unsigned>(weak(), generation)));
    g_task_set_task_data(task.get(), new std::string(path), [](gpointer p) { delete static_cast<std::string*>(p); });
    g_task_run_in_thread(task.get(), load_image_in_thread);
    return;
  }
  one_.reset();
  two_.reset();
  icon_name_.clear();
  // The desktop's symbol names are not Linux icon names; a theme that has the name shows it.
  if (!icon_name.empty())
    if (GtkIconTheme* theme = gtk_icon_theme_get_default(); theme && gtk_icon_theme_has_icon(theme, icon_name.c_str()))
      icon_name_ = icon_name;
  image_changed();
}

void Tray::image_loaded(unsigned generation, LoadedImage* image, const char* error, const std::string& path) {
  if (generation != image_generation_) return;  // a later image was asked for
  one_.reset();
  two_.reset();
  icon_name_.clear();
  if (image) {
    one_ = std::move(image->one);
    two_ = std::move(image->two);
  } else {
    std::fprintf(stderr, "quibex: the tray image %s cannot be loaded: %s\n", path.c_str(),
                 error ? error : "unknown error");
  }
  image_changed();
}

void Tray::image_changed() {
  emit("NewIcon");
  if (icon_) apply_xembed();
}

void Tray::set_title(const std::string& title) {
  if (title == title_) return;
  title_ = title;
  emit("NewTitle");
  emit("XAyatanaNewLabel", g_variant_new("(ss)", title_.c_str(), ""));
  if (icon_) apply_xembed();
}

void Tray::set_tooltip(const std::string& tooltip) {
  if (tooltip == tooltip_) return;
  tooltip_ = tooltip;
  emit("NewToolTip");
  if (icon_) apply_xembed();
}

void Tray::set_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen, bool secondary) {
  (secondary ? secondary_ : menu_) = std::move(menu);
  (secondary ? secondary_chosen_ : chosen_) = std::move(chosen);
  schedule_sync();
}

void Tray::apply_xembed() {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GtkStatusIcon* icon = icon_.get();
  if (one_)
    gtk_status_icon_set_from_pixbuf(icon, one_.get());
  else if (!icon_name_.empty())
    gtk_status_icon_set_from_icon_name(icon, icon_name_.c_str());
  else
    gtk_status_icon_set_from_pixbuf(icon, nullptr);
  // A tray icon shows no text: the title names it for the tray and assistive tools.
  gtk_status_icon_set_title(icon, title_.c_str());
  if (tooltip_.empty())
    gtk_status_icon_set_has_tooltip(icon, FALSE);
  else
    gtk_status_icon_set_tooltip_text(icon, tooltip_.c_str());
  gtk_status_icon_set_visible(icon, TRUE);
  G_GNUC_END_IGNORE_DEPRECATIONS
}

void Tray::clicked(Click click, bool control) {
  std::shared_ptr<Tray> keep = shared_from_this();
  switch (tray::click_action(click, menu_ != nullptr)) {
    case ClickAction::kOpenMenu:
      popup(menu_, chosen_);
      break;
    case ClickAction::kHostPrimary:
      if (auto f = clicks_) f(false, control);
      break;
    case ClickAction::kHostSecondary:
      if (auto f = clicks_) f(true, false);
      break;
    case ClickAction::kNothing:
      break;
  }
}

void Tray::popup(std::shared_ptr<const MenuNode> menu, MenuChosen chosen) {
  if (!menu || down_) return;
  close_popup();
  popup_ = ref_sink(gtk_menu_new());
  fill_menu_shell(GTK_MENU_SHELL(popup_.get()), std::move(menu), std::move(chosen), nullptr);
  g_signal_connect(popup_.get(), "deactivate", G_CALLBACK(+[](GtkMenuShell* shell, Tray* t) {
                     // The chosen item is activated after this: the menu goes once that is done.
                     g_signal_handlers_disconnect_by_data(shell, t);
                     g_idle_add(+[](gpointer m) -> gboolean {
                       gtk_widget_destroy(GTK_WIDGET(m));
                       g_object_unref(m);
                       return G_SOURCE_REMOVE;
                     }, shell);
                     t->popup_.release();  // the idle has the menu's reference now
                   }),
                   this);
  GdkEvent* event = gtk_get_current_event();
  if (!event) event = pointer_event();
  gtk_menu_popup_at_pointer(GTK_MENU(popup_.get()), event);
  if (event) gdk_event_free(event);
}

void Tray::close_popup() {
  if (!popup_) return;
  g_signal_handlers_disconnect_by_data(popup_.get(), this);
  gtk_widget_destroy(popup_.get());
  popup_.reset();
}

std::optional<Rect> Tray::frame() const {
  // A StatusNotifierItem is drawn by the panel, which tells nobody where.
  if (mode_ != Mode::kXembed || !icon_) return std::nullopt;
  GdkRectangle area{};
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  // The geometry call answers for an icon no tray holds too (1 x 1 at the root's
  // corner): only an embedded icon is anywhere on screen.
  const bool placed =
      gtk_status_icon_is_embedded(icon_.get()) && gtk_status_icon_get_geometry(icon_.get(), nullptr, &area, nullptr);
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!placed || area.width <= 0 || area.height <= 0) return std::nullopt;
  return root_to_host(area.x, area.y, area.width, area.height);
}

GVariant* Tray::pixmaps() const {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a(iiay)"));
  for (GdkPixbuf* p : {one_.get(), two_.get()}) {
    if (!p) continue;
    std::vector<std::uint8_t> bytes = tray::argb32(p);
    g_variant_builder_add(&b, "(ii@ay)", gdk_pixbuf_get_width(p), gdk_pixbuf_get_height(p),
                          g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1));
  }
  return g_variant_builder_end(&b);
}

GVariant* Tray::get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                             gpointer self) {
  const Tray& t = *static_cast<Tray*>(self);
  const std::string p = name;
  auto text = [](const std::string& s) { return g_variant_new_string(s.c_str()); };
  if (p == "Category") return text("ApplicationStatus");
  if (p == "Id") return text(desktop_id());
  if (p == "Title" || p == "XAyatanaLabel") return text(t.title_);
  if (p == "Status") return text("Active");
  if (p == "WindowId") return g_variant_new_int32(0);
  if (p == "Menu")
    return g_variant_new_object_path(t.shape().menu && !t.menu_path_.empty() ? t.menu_path_.c_str() : kNoMenuPath);
  if (p == "ItemIsMenu") return g_variant_new_boolean(t.menu_ != nullptr);
  if (p == "IconName") return text(t.icon_name_);
  if (p == "IconPixmap") return t.pixmaps();
  if (p == "OverlayIconPixmap" || p == "AttentionIconPixmap")
    return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
  if (p == "ToolTip")
    return g_variant_new("(s@a(iiay)ss)", "", g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0),
                         t.tooltip_.c_str(), "");
  if (p == "XAyatanaOrderingIndex") return g_variant_new_uint32(0);
  return text("");  // IconThemePath, the overlay and attention names, the label guide
}

void Tray::method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                       GDBusMethodInvocation* invocation, gpointer self) {
  auto* t = static_cast<Tray*>(self);
  const std::string m = method;
  // Answered once the click is carried out, which takes no waiting.
  if (m == "Activate")
    t->clicked(Click::kPrimary, control_held());
  else if (m == "ContextMenu")
    t->clicked(Click::kSecondary, false);
  else if (m == "SecondaryActivate")
    t->clicked(Click::kMiddle, false);
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void Tray::shutdown() {
  down_ = true;
  g_cancellable_cancel(cancel_.get());
  if (sync_id_) g_source_remove(sync_id_);
  sync_id_ = 0;
  close_popup();
  if (icon_) {
    g_signal_handlers_disconnect_by_data(icon_.get(), this);
    icon_.reset();
  }
  // Releasing the name takes the item off every panel.
  bus_gone("");
  one_.reset();
  two_.reset();
}

class GtkStatusItem : public StatusItem {
 public:
  GtkStatusItem() : tray_(std::make_shared<Tray>()) { tray_->start(); }
  ~GtkStatusItem() override { tray_->shutdown(); }
  void set_image(const std::string& path, const std::string& icon_name, bool template_image) override {
    tray_->set_image(path, icon_name, template_image);
  }
  bool has_image() const override { return tray_->has_image(); }
  void set_title(const std::string& title) override { tray_->set_title(title); }
  void set_tooltip(const std::string& tooltip) override { tray_->set_tooltip(tooltip); }
  void set_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen) override {
    tray_->set_menu(std::move(menu), std::move(chosen), false);
  }
  void set_click_handler(std::function<void(bool, bool)> handler) override {
    tray_->set_click_handler(std::move(handler));
  }
  void set_secondary_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen) override {
    tray_->set_menu(std::move(menu), std::move(chosen), true);
  }
  void popup_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen) override {
    tray_->popup(std::move(menu), std::move(chosen));
  }
  std::optional<Rect> frame() const override { return tray_->frame(); }

 private:
  std::shared_ptr<Tray> tray_;
};

}  // namespace

std::unique_ptr<StatusItem> make_gtk_status_item() { return std::make_unique<GtkStatusItem>(); }

}  // namespace platform::gtk
