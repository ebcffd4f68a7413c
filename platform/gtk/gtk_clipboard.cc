// The clipboard is the CLIPBOARD selection. X11 keeps no change count, so the
// host counts the owner changes that XFixes reports (GTK's "owner-change").

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_clip_notify.h"

namespace platform::gtk {

namespace {

enum Info : guint { kText = 1, kHtml, kPng, kColor, kUris, kGnomeFiles };

GdkAtom atom(const char* name) { return gdk_atom_intern_static_string(name); }

std::string bytes_of(GtkSelectionData* sd) {
  if (!sd || gtk_selection_data_get_length(sd) <= 0) return {};
  return std::string(reinterpret_cast<const char*>(gtk_selection_data_get_data(sd)),
                     size_t(gtk_selection_data_get_length(sd)));
}

// Some browsers put text/html on the clipboard as UTF-16 with a byte-order mark.
std::string utf8_of(std::string s) {
  const bool bom = s.size() >= 2 && (unsigned char)s[0] == 0xff && (unsigned char)s[1] == 0xfe;
  if (bom || (s.size() >= 2 && s[0] != '\0' && s[1] == '\0')) {
    const size_t skip = bom ? 2 : 0;
    glong n = 0;
    std::u16string units((s.size() - skip) / 2, u'\0');
    std::memcpy(units.data(), s.data() + skip, units.size() * 2);
    GPtr<char> u(g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(units.data()), glong(units.size()), nullptr, &n,
                                 nullptr));
    s = u ? std::string(u.get(), size_t(n)) : std::string();
  }
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

GObjectPtr<GdkPixbuf> decode(const std::string& bytes) {
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
  bool ok = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
  ok = gdk_pixbuf_loader_close(loader.get(), nullptr) && ok;
  return ok ? add_ref(gdk_pixbuf_loader_get_pixbuf(loader.get())) : nullptr;
}

std::optional<std::string> png_of(GdkPixbuf* pixbuf) {
  GPtr<char> buf;
  gsize len = 0;
  if (!gdk_pixbuf_save_to_buffer(pixbuf, out_ptr(buf), &len, "png", nullptr, nullptr)) return std::nullopt;
  return std::string(buf.get(), len);
}

class GtkClip : public Clipboard {
 public:
  long change_count() override {
    clipboard();
    return count_;
  }

  bool write(const ClipWrite& d) override {
    GtkTargetList* list = gtk_target_list_new(nullptr, 0);
    if (!d.text.empty()) gtk_target_list_add_text_targets(list, kText);
    if (!d.html.empty()) gtk_target_list_add(list, atom("text/html"), 0, kHtml);
    if (!d.png.empty()) gtk_target_list_add(list, atom("image/png"), 0, kPng);
    if (d.color) gtk_target_list_add(list, atom("application/x-color"), 0, kColor);
    if (!d.file_uris.empty()) {
      gtk_target_list_add(list, atom("text/uri-list"), 0, kUris);
      gtk_target_list_add(list, atom("x-special/gnome-copied-files"), 0, kGnomeFiles);
    }
    gint n = 0;
    GtkTargetEntry* table = gtk_target_table_new_from_list(list, &n);
    gtk_target_list_unref(list);
    static GtkTargetEntry none[1] = {};  // an empty write still takes the clipboard: it is then empty
    auto* data = new ClipWrite(d);
    const bool ok = gtk_clipboard_set_with_data(clipboard(), table ? table : none, guint(n), &GtkClip::get, &GtkClip::clear, data);
    gtk_target_table_free(table, n);
    if (!ok) {
      delete data;
      return false;
    }
    // A clipboard manager may keep the contents once the host has ended.
    gtk_clipboard_set_can_store(clipboard(), nullptr, 0);
    ++count_;
    ++own_unreported_;
    return true;
  }

  void read(std::function<void(std::optional<ClipContents>)> done) override {
    auto* r = new Reading{std::move(done), {}, {}, 0};
    gtk_clipboard_request_targets(clipboard(), &GtkClip::got_targets, r);
  }

  std::optional<std::string> to_png(const std::string& bytes) override {
    GObjectPtr<GdkPixbuf> pixbuf = decode(bytes);
    if (!pixbuf) return std::nullopt;
    if (bytes.size() > 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0) return bytes;
    return png_of(pixbuf.get());
  }

  std::optional<std::pair<long, long>> png_size(const std::string& png) override {
    GObjectPtr<GdkPixbuf> pixbuf = decode(png);
    if (!pixbuf) return std::nullopt;
    return std::make_pair(long(gdk_pixbuf_get_width(pixbuf.get())), long(gdk_pixbuf_get_height(pixbuf.get())));
  }

 private:
  struct Reading {
    std::function<void(std::optional<ClipContents>)> done;
    ClipContents c;
    std::vector<std::function<void(Reading*)>> steps;
    size_t next;
  };

  GtkClipboard* clipboard() {
    if (!clip_) {
      clip_ = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
      g_signal_connect(clip_, "owner-change", G_CALLBACK(&GtkClip::owner_changed), this);
    }
    return clip_;
  }

  static void owner_changed(GtkClipboard*, GdkEventOwnerChange* ev, GtkClip* self) {
    // The host's own writes were counted when they were made.
    if (ev->owner && self->own_unreported_ > 0) {
      --self->own_unreported_;
      return;
    }
    ++self->count_;
  }

  static void get(GtkClipboard*, GtkSelectionData* sd, guint info, gpointer p) {
    const auto* d = static_cast<const ClipWrite*>(p);
    GdkAtom target = gtk_selection_data_get_target(sd);
    auto put = [&](const std::string& s, gint format = 8) {
      gtk_selection_data_set(sd, target, format, reinterpret_cast<const guchar*>(s.data()), gint(s.size()));
    };
    switch (info) {
      case kText: gtk_selection_data_set_text(sd, d->text.c_str(), gint(d->text.size())); break;
      case kHtml: put(d->html); break;
      case kPng: put(d->png); break;
      case kColor: {
        const guint16 v[4] = {d->color->r, d->color->g, d->color->b, d->color->a};
        gtk_selection_data_set(sd, target, 16, reinterpret_cast<const guchar*>(v), sizeof v);
        break;
      }
      case kUris: {
        std::string s;
        for (const auto& u : d->file_uris) s += u + "\r\n";
        put(s);
        break;
      }
      case kGnomeFiles: {
        std::string s = "copy";
        for (const auto& u : d->file_uris) s += "\n" + u;
        put(s);
        break;
      }
    }
  }

  static void clear(GtkClipboard*, gpointer p) { delete static_cast<ClipWrite*>(p); }

  static void advance(Reading* r) {
    if (r->next < r->steps.size()) return r->steps[r->next++](r);
    std::unique_ptr<Reading> owned(r);
    owned->done(std::move(owned->c));
  }

  // Asks for one target's bytes; then the next step.
  static void fetch(Reading* r, const char* target, std::function<void(Reading*, std::string)> use) {
    using Use = std::pair<Reading*, std::function<void(Reading*, std::string)>>;
    gtk_clipboard_request_contents(
        gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), atom(target),
        +[](GtkClipboard*, GtkSelectionData* sd, gpointer p) {
          std::unique_ptr<Use> u(static_cast<Use*>(p));
          if (sd && gtk_selection_data_get_length(sd) >= 0) u->second(u->first, bytes_of(sd));
          advance(u->first);
        },
        new Use(r, std::move(use)));
  }

  static void got_targets(GtkClipboard*, GdkAtom* atoms, gint n, gpointer p) {
    auto* r = static_cast<Reading*>(p);
    auto offered = [&](const char* name) {
      GdkAtom a = atom(name);
      for (gint i = 0; i < n; ++i)
        if (atoms[i] == a) return true;
      return false;
    };
    // No owner, or one that offers nothing: an empty clipboard.
    if (!atoms || n <= 0) return advance(r);
    auto& steps = r->steps;
    if (offered("text/uri-list")) {
      steps.push_back([](Reading* r) {
        fetch(r, "text/uri-list", [](Reading* r, std::string s) {
          GPtr<char*> uris(g_uri_list_extract_uris(s.c_str()));
          for (gchar** u = uris.get(); u && *u; ++u) r->c.uris.emplace_back(*u);
        });
      });
    } else if (offered("x-special/gnome-copied-files")) {
      steps.push_back([](Reading* r) {
        fetch(r, "x-special/gnome-copied-files", [](Reading* r, std::string s) {
          GPtr<char*> lines(g_strsplit(s.c_str(), "\n", -1));
          for (gchar** l = lines.get(); l && *l; ++l)
            if (l != lines.get() && **l) r->c.uris.emplace_back(*l);  // the first line says copy or cut
        });
      });
    }
    if (gtk_targets_include_text(atoms, n)) {
      steps.push_back([](Reading* r) {
        gtk_clipboard_request_text(
            gtk_clipboard_get(GDK_SELECTION_CLIPBOARD),
            +[](GtkClipboard*, const gchar* text, gpointer p) {
              auto* r = static_cast<Reading*>(p);
              if (text) r->c.text = text;
              advance(r);
            },
            r);
      });
    }
    if (offered("text/html"))
      steps.push_back([](Reading* r) { fetch(r, "text/html", [](Reading* r, std::string s) { r->c.html = utf8_of(s); }); });
    if (offered("image/png")) {
      steps.push_back([](Reading* r) { fetch(r, "image/png", [](Reading* r, std::string s) { if (!s.empty()) r->c.png = s; }); });
    } else if (gtk_targets_include_image(atoms, n, FALSE)) {
      steps.push_back([](Reading* r) {
        gtk_clipboard_request_image(
            gtk_clipboard_get(GDK_SELECTION_CLIPBOARD),
            +[](GtkClipboard*, GdkPixbuf* pixbuf, gpointer p) {
              auto* r = static_cast<Reading*>(p);
              if (pixbuf) r->c.png = png_of(pixbuf);
              advance(r);
            },
            r);
      });
    }
    if (offered("application/x-color")) {
      steps.push_back([](Reading* r) {
        fetch(r, "application/x-color", [](Reading* r, std::string s) {
          if (s.size() < 8) return;
          guint16 v[4];
          std::memcpy(v, s.data(), sizeof v);
          r->c.color = ClipColor{v[0], v[1], v[2], v[3]};
        });
      });
    }
    // Password managers mark secrets this way (KDE's convention, which others follow).
    if (offered("x-kde-passwordManagerHint")) {
      steps.push_back([](Reading* r) {
        fetch(r, "x-kde-passwordManagerHint", [](Reading* r, std::string s) { r->c.concealed = utf8_of(s) == "secret"; });
      });
    }
    // The page a browser copied from.
    for (const char* t : {"chromium/x-source-url", "text/x-moz-url-priv"}) {
      if (!offered(t)) continue;
      const std::string target = t;
      steps.push_back([target](Reading* r) {
        fetch(r, target == "chromium/x-source-url" ? "chromium/x-source-url" : "text/x-moz-url-priv",
              [](Reading* r, std::string s) {
                s = utf8_of(s);
                if (auto nl = s.find('\n'); nl != std::string::npos) s.erase(nl);
                if (!s.empty() && !r->c.source_url) r->c.source_url = s;
              });
      });
    }
    advance(r);
  }

  GtkClipboard* clip_ = nullptr;
  long count_ = 0;
  int own_unreported_ = 0;
};

}  // namespace

Clipboard& gtk_clipboard() {
  static GtkClip c;
  return c;
}

}  // namespace platform::gtk
