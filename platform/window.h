#pragma once
// A native top-level window. Frames cross this boundary in the host's coordinates
// (see screens.h); the desktop layer converts at the last step.
//
// A window keeps the host's own model of itself (style mask, level, collection
// behaviour, opacity, button visibility), maps each value onto the nearest
// behaviour of the desktop and reports the model back as it was given. What the
// window system decides (frame, visibility, minimised, zoomed, full screen, key)
// is read back from the window system.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/menu.h"
#include "platform/screens.h"

namespace platform {

class WebView;
class NativeWindow;

// Style-mask bits.
inline constexpr std::uint64_t kStyleTitled = 1;
inline constexpr std::uint64_t kStyleClosable = 2;
inline constexpr std::uint64_t kStyleMiniaturizable = 4;
inline constexpr std::uint64_t kStyleResizable = 8;
inline constexpr std::uint64_t kStyleNonactivatingPanel = 128;
inline constexpr std::uint64_t kStyleFullScreen = 16384;  // read back, never set
inline constexpr std::uint64_t kStyleFullSizeContentView = 32768;
inline constexpr std::uint64_t kStyleStandard = kStyleTitled | kStyleClosable | kStyleMiniaturizable | kStyleResizable;

// Window levels.
inline constexpr long kLevelNormal = 0;
inline constexpr long kLevelFloating = 3;
inline constexpr long kLevelOverlay = 1000;
inline constexpr long kLevelDesktop = -2147483623;

// Collection-behaviour bits.
inline constexpr std::uint64_t kBehaviorCanJoinAllSpaces = 1;
inline constexpr std::uint64_t kBehaviorManaged = 4;
inline constexpr std::uint64_t kBehaviorTransient = 8;
inline constexpr std::uint64_t kBehaviorParticipatesInCycle = 32;
inline constexpr std::uint64_t kBehaviorIgnoresCycle = 64;
inline constexpr std::uint64_t kBehaviorFullScreenAuxiliary = 256;

enum class WindowButton { kClose = 0, kMinimize = 1, kZoom = 2 };

struct Size {
  double w = 0, h = 0;
  bool operator==(const Size&) const = default;
};

// The edges an interactive resize moves; at most one of each pair is set.
struct ResizeEdges {
  bool top = false, bottom = false, left = false, right = false;
  bool any() const { return top || bottom || left || right; }
  bool operator==(const ResizeEdges&) const = default;
};

struct WindowParams {
  std::string title;
  double width = 600, height = 400;  // content size in points
  bool panel = false;                // a utility window that does not take focus on show
  bool rgba = false;                 // ask for a visual with an alpha channel
  std::uint64_t style_mask = kStyleStandard;
};

// What the desktop reports about one window; every callback runs on the main thread.
struct WindowEvents {
  std::function<void()> on_close_request;  // the user asked to close; when set, the host decides
  std::function<void()> on_state_changed;  // visible, minimised, full screen or key changed
  std::function<void()> on_frame_changed;  // moved or resized
  std::function<void()> on_destroyed;      // the window closed, however it closed
};

// Notes every window posts to the process-wide observers, after the change.
enum class WindowNote {
  kDidEnterFullScreen,
  kDidExitFullScreen,
  kDidMiniaturize,
  kDidDeminiaturize,
  kDidBecomeKey,
  kDidResignKey,
  kDidResize,
  kDidMove,
  kDidChangeScreen,
};

using WindowObserver = std::function<void(NativeWindow*, WindowNote)>;
// Main thread only. An observer may remove itself (or add others) while it runs.
int add_window_observer(WindowObserver fn);
void remove_window_observer(int token);
// Called by the desktop layers.
void post_window_note(NativeWindow* window, WindowNote note);

class NativeWindow {
 public:
  virtual ~NativeWindow() = default;
  virtual void set_events(WindowEvents events) = 0;
  virtual void set_title(const std::string& title) = 0;
  virtual std::string title() const = 0;

  // Geometry. The frame is the outer frame, title bar included.
  virtual void set_content_size(double w, double h) = 0;  // keeps the top edge
  virtual Rect frame() const = 0;
  virtual void set_frame(const Rect& frame) = 0;
  virtual Rect content_rect_for_frame(const Rect& frame) const = 0;
  virtual Rect frame_rect_for_content(const Rect& content) const = 0;
  virtual void set_content_min_size(Size size) = 0;
  virtual Size content_min_size() const = 0;
  // The screen the window system counts the window on, if it says.
  virtual std::optional<std::uint32_t> screen_id() const = 0;

  // Ordering and activation.
  virtual void show() = 0;                    // order front and make key
  virtual void order_front_regardless() = 0;  // order front without taking focus
  virtual void make_key() = 0;
  virtual void hide() = 0;  // order out
  virtual bool visible() const = 0;
  virtual bool is_key() const = 0;

  // States the window system owns.
  virtual void miniaturize() = 0;
  virtual void deminiaturize() = 0;
  virtual bool miniaturized() const = 0;
  virtual void zoom() = 0;  // toggles between maximised and the user's size
  virtual bool zoomed() const = 0;
  // Asks for full screen on or off; the window system answers later. Until it does,
  // style_mask() counts the request, so a second request toggles what was asked for.
  virtual void toggle_full_screen() = 0;
  // Whether the window system has the window in full screen now.
  virtual bool is_full_screen() const = 0;

  // The host's model; style_mask() also carries kStyleFullScreen, as asked for
  // when a request is still unanswered, else as the window system reports it.
  virtual void set_style_mask(std::uint64_t mask) = 0;
  virtual std::uint64_t style_mask() const = 0;
  virtual bool is_panel() const = 0;
  virtual void set_level(long level) = 0;
  virtual long level() const = 0;
  virtual void set_collection_behavior(std::uint64_t behavior) = 0;
  virtual std::uint64_t collection_behavior() const = 0;
  virtual void set_ignores_mouse_events(bool ignore) = 0;
  virtual bool ignores_mouse_events() const = 0;
  virtual void set_opaque(bool opaque) = 0;
  virtual bool is_opaque() const = 0;
  virtual void set_background_clear(bool clear) = 0;  // else the theme's window background
  virtual bool background_clear() const = 0;
  virtual void set_has_shadow(bool shadow) = 0;
  virtual bool has_shadow() const = 0;
  virtual void set_titlebar_appears_transparent(bool transparent) = 0;
  virtual bool titlebar_appears_transparent() const = 0;
  virtual void set_title_visible(bool visible) = 0;
  virtual bool title_visible() const = 0;
  virtual void set_titlebar_hidden(bool hidden) = 0;  // the title bar with its buttons
  virtual bool titlebar_hidden() const = 0;
  virtual void set_button_visible(WindowButton b, bool visible) = 0;
  virtual bool button_visible(WindowButton b) const = 0;
  // Where a window button sits in its title bar (x from the left, y from the top),
  // where the desktop draws the buttons itself; nullopt where it does not.
  virtual std::optional<Rect> button_frame(WindowButton b) const = 0;
  virtual void set_button_frame(WindowButton b, const Rect& frame) = 0;
  virtual void set_can_become_key(bool can) = 0;
  virtual bool can_become_key() const = 0;

  // Child windows stay above their parent and move with it.
  virtual void add_child_window(NativeWindow* child) = 0;
  virtual void remove_child_window(NativeWindow* child) = 0;
  virtual std::vector<NativeWindow*> child_windows() const = 0;

  // Interactive moves, resizes and file drags, started while the left button is
  // down; false when the desktop did not start one. min_frame bounds the resize.
  // A file drag lays its items out as platform/common/drag_layout.h does; an icon that cannot be
  // read leaves every item with the file's own icon.
  virtual bool begin_move_drag() = 0;
  virtual bool begin_resize_drag(ResizeEdges edges, Size min_frame) = 0;
  virtual bool begin_file_drag(const std::vector<std::string>& paths, const std::string& icon_path) = 0;

  // The page the window shows (its content web view).
  virtual void set_content(WebView* view) = 0;
  virtual void set_content_zoom(double factor) = 0;
  virtual void set_content_draws_background(bool draws) = 0;

  // The menu bar the window shows at the top of its content (null = none); its
  // height belongs to the frame, as a title bar's does. Choices go to chosen,
  // except editing commands, which the desktop carries out on the window's page.
  virtual void set_menu_bar(std::shared_ptr<const MenuNode> bar, MenuChosen chosen) = 0;
  // Key presses in the window before its page sees them; a true answer consumes it.
  virtual void set_key_handler(std::function<bool(const KeyChord&)> handler) = 0;

  virtual void close() = 0;
  // The toolkit object (GtkWindow* on GTK), for the desktop layer only.
  virtual void* native_handle() = 0;
};

enum class ActivationPolicy { kRegular = 0, kAccessory = 1 };

// The application as the window system sees it.
class Application {
 public:
  virtual ~Application() = default;
  // Regular: the windows show in the task bar; accessory: they do not.
  virtual void set_activation_policy(ActivationPolicy policy) = 0;
  virtual ActivationPolicy activation_policy() const = 0;
  // Brings the application's front window forward with the focus.
  virtual void activate() = 0;
  // Hides every visible window of the application; unhide shows those again.
  virtual void hide() = 0;
  virtual void unhide(bool activate) = 0;
  virtual bool hidden() const = 0;
  // The left mouse button is down now.
  virtual bool left_button_down() = 0;
};

// The desktop's application object; null until a desktop installs one.
Application* application();
void install_application(Application* app);

// While the order-front gate answers true, no window of the process comes
// forward: NativeWindow::show and order_front_regardless, and the application's
// activate and unhide, do nothing (a hidden application stays hidden). Start-up
// holds the gate while the main window is made and its page starts loading, so
// that no path shows a window before the host decides to. No gate: open.
void set_order_front_gate(std::function<bool()> suppressed);
bool order_front_suppressed();
// Maps the activation policy asked of the application onto the one it gets, so
// that an accessory application stays one until the host lets it go. No filter:
// every policy is taken as asked.
void set_activation_policy_filter(std::function<ActivationPolicy(ActivationPolicy)> filter);
ActivationPolicy filtered_activation_policy(ActivationPolicy asked);

}  // namespace platform
