#pragma once
// The desktop's clipboard (the CLIPBOARD selection on X11) as the host uses it:
// written whole, read whole, and a change count of the host's own.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A colour with 16-bit components, as X11 clipboards carry application/x-color.
struct ClipColor {
  unsigned short r = 0, g = 0, b = 0, a = 0xffff;
  bool operator==(const ClipColor&) const = default;
};

// What the host puts on the clipboard; empty members are left out.
struct ClipWrite {
  std::string text;
  std::string html;
  std::string png;  // PNG bytes, already checked (see Clipboard::to_png)
  std::optional<ClipColor> color;
  std::vector<std::string> file_uris;  // file:// URIs
};

// What the clipboard holds; a member is unset when no owner offers that kind.
struct ClipContents {
  std::vector<std::string> uris;  // text/uri-list lines, any scheme
  std::optional<std::string> text;
  std::optional<std::string> html;
  std::optional<std::string> png;  // PNG bytes, converted from another image type where needed
  std::optional<ClipColor> color;
  bool concealed = false;  // the owner marked the data as secret
  std::optional<std::string> source_url;
};

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Counts every change of the clipboard's owner seen so far. The host's own
  // writes count at once, and are not counted again when the window system
  // reports them.
  virtual long change_count() = 0;
  // Replaces the clipboard's contents (an empty write leaves it empty); false
  // when the window system refused the host the clipboard.
  virtual bool write(const ClipWrite& data) = 0;
  // Reads the whole contents; done runs exactly once on the main thread (none:
  // the clipboard could not be read at all).
  virtual void read(std::function<void(std::optional<ClipContents>)> done) = 0;
  // Decodes an image in any format the desktop reads; PNG bytes of it (the bytes
  // as they are when they are PNG already), or none when they are no image.
  virtual std::optional<std::string> to_png(const std::string& bytes) = 0;
  // The pixel size of PNG bytes; none when they cannot be decoded.
  virtual std::optional<std::pair<long, long>> png_size(const std::string& png) = 0;
};

// The desktop's clipboard; null until a desktop installs one.
Clipboard* clipboard();
void install_clipboard(Clipboard* c);

}  // namespace platform
