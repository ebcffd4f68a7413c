#pragma once
// The tray item on the Linux desktop: a StatusNotifierItem that the host serves
// on the session bus, its menu exported as com.canonical.dbusmenu, and an XEmbed
// tray icon where no StatusNotifierWatcher is on the bus. The pieces below are
// the ones that hold logic of their own; they need no desktop.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libdbusmenu-glib/menuitem.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/platform.h"

namespace platform::gtk {

std::unique_ptr<StatusItem> make_gtk_status_item();

namespace tray {

// Tray images are this many points high.
inline constexpr int kImageHeight = 18;
// No image is drawn wider than this, whatever its proportions.
inline constexpr int kMaxImageWidth = 512;

struct PixelSize {
  int w = 0, h = 0;
  bool operator==(const PixelSize&) const = default;
};

// The size an image of w x h is drawn at, in pixels at the given scale: 18
// points high, its proportions kept (as a square when its height is not positive).
PixelSize image_size(int w, int h, int scale);

// Pixels as a StatusNotifierItem carries them: ARGB32 in network byte order.
std::vector<std::uint8_t> argb32(const GdkPixbuf* pixbuf);

// A menu title as dbusmenu shows it: an underscore there marks a mnemonic, so a
// literal one is doubled.
std::string dbusmenu_label(const std::string& title);

// What a click on the item does.
enum class Click { kPrimary, kSecondary, kMiddle };
enum class ClickAction {
  kNothing,
  kOpenMenu,     // the item's own menu, opened by the host (the panel did not)
  kHostPrimary,  // the host's click handler, primary click
  kHostSecondary,
};
ClickAction click_action(Click click, bool has_menu);

// A menu tree exported as dbusmenu items under a root of id 0. Choosing an item
// calls chosen; posted changes of the nodes update the items' properties.
class DbusmenuTree {
 public:
  DbusmenuTree(std::shared_ptr<const MenuNode> menu, MenuChosen chosen);
  ~DbusmenuTree();
  DbusmenuTree(const DbusmenuTree&) = delete;
  DbusmenuTree& operator=(const DbusmenuTree&) = delete;

  DbusmenuMenuitem* root() const { return root_.get(); }
  const std::shared_ptr<const MenuNode>& menu() const { return menu_; }
  // The exported item of a node (the first, when it is shown twice); null when none.
  DbusmenuMenuitem* item_for(const MenuNode* node) const;

 private:
  void add_children(DbusmenuMenuitem* parent, const MenuNode& node);
  void node_changed(const MenuNode* node);
  static void apply(DbusmenuMenuitem* item, const MenuNode& node);
  static void activated(DbusmenuMenuitem* item, guint timestamp, gpointer self);

  std::shared_ptr<const MenuNode> menu_;
  MenuChosen chosen_;
  GObjectPtr<DbusmenuMenuitem> root_;
  std::multimap<const MenuNode*, DbusmenuMenuitem*> items_;
  std::map<DbusmenuMenuitem*, const MenuNode*> nodes_;
  // The bus side may keep items a little longer: none of them calls back here.
  std::vector<SignalConnection> activations_;
  int observer_ = 0;
};

}  // namespace tray
}  // namespace platform::gtk
