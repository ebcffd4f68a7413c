#pragma once
// The desktop's shell services: opening, revealing and trashing files, keeping
// the machine awake, sounds, sharing, previews and the file index.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class WebView;

// What SHARE offers, in order: text, a URL, files.
struct ShareItems {
  std::string text;
  std::string url;
  std::vector<std::string> files;
  bool operator==(const ShareItems&) const = default;
};

class DesktopShell {
 public:
  virtual ~DesktopShell() = default;

  // Opens a URI (any scheme, file: included) with the desktop's default
  // application; done(ok, error) on the main thread, error being what the desktop
  // said when no application took it.
  virtual void open_uri(const std::string& uri, std::function<void(bool ok, std::string error)> done) = 0;
  virtual bool path_exists(const std::string& path) = 0;
  // Shows the item selected in the file manager, else opens its folder.
  virtual void reveal(const std::string& path) = 0;
  // Moves an absolute path to the trash; false with the desktop's reason.
  virtual bool trash(const std::string& path, std::string& error) = 0;

  // Keeps the system (display false) or the display awake. done(token) on the
  // main thread: 0 when the desktop refused or has no such service.
  virtual void inhibit(bool display, const std::string& who, const std::string& reason,
                       std::function<void(std::uint64_t token)> done) = 0;
  virtual void uninhibit(std::uint64_t token) = 0;

  // Plays a sound by theme name or absolute file path, stopping the one before;
  // "" beeps. done(ok) on the main thread, false when the sound cannot be made.
  // The main thread never waits on the sound server for it; a server that never
  // answers may keep done from ever running, so the caller bounds its wait.
  virtual void play_sound(const std::string& name_or_path, std::function<void(bool ok)> done) = 0;

  // A small menu at (x, y) of the view (points from its top-left) offering what
  // the desktop can do with the items: copy them, send them by e-mail, open them
  // with another application.
  virtual void share(WebView* view, const ShareItems& items, int x, int y) = 0;
  // Shows the files in the desktop's previewer, else a preview window of the
  // host's own; an empty list closes the host's preview.
  virtual void preview(const std::vector<std::string>& paths) = 0;

  // Paths under home whose name (or, where the desktop indexes it, content)
  // contains query, case and accents aside, at most limit of them. done runs once
  // on the main thread, within about timeout_ms even when the index never answers.
  virtual void search(const std::string& query, const std::string& home, int limit, int timeout_ms,
                      std::function<void(std::vector<std::string> paths)> done) = 0;
};

DesktopShell* desktop_shell();
void install_desktop_shell(DesktopShell* shell);

}  // namespace platform
