#include "core/app_identity.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/app_hooks.h"
#include "core/settings.h"
#include "platform/dock.h"

namespace fs = std::filesystem;

std::string bundle_application_id(const std::string& bundle_identifier, const std::string& bundle_path) {
  std::string name = fs::path(bundle_path).filename().string();
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) name.resize(name.size() - 4);
  return application_id_for(bundle_identifier, name, bundle_path);
}

std::string bundle_icon_file(const platform::PlistDict& info, const std::string& bundle_path) {
  const std::string named = info.string("CFBundleIconFile");
  if (named.empty()) return "";
  // The usual form names the file without its extension, and a bundle made for
  // another desktop may hold an .icns that this one cannot read beside a PNG or
  // SVG of the same name.
  const std::string dir = bundle_path + "/Contents/Resources/";
  const fs::path as_named(named);
  const std::string stem = as_named.has_extension() ? fs::path(as_named).replace_extension().string() : named;
  std::vector<std::string> candidates{dir + named};
  for (const char* ext : {".png", ".svg", ".icns"})
    if (dir + stem + ext != candidates.front()) candidates.push_back(dir + stem + ext);
  if (platform::Dock* d = platform::dock())
    for (const std::string& c : candidates)
      if (d->image_loadable(c)) return c;
  std::fprintf(stderr,
               "quibex: the bundle's icon \"%s\" (CFBundleIconFile) cannot be read from Contents/Resources, as named "
               "or as .png, .svg or .icns; the desktop's generic application icon is used\n",
               named.c_str());
  return "";
}

platform::HostIdentity host_identity(bool bundle_mode, const platform::PlistDict& info, const std::string& bundle_path,
                                     const std::string& name) {
  platform::HostIdentity id;
  id.name = name;
  if (!bundle_mode) return id;
  id.app_id = bundle_application_id(info.string("CFBundleIdentifier"), bundle_path);
  id.icon = bundle_icon_file(info, bundle_path);
  return id;
}

void set_host_identity(const platform::HostIdentity& identity) {
  settings().app_id = identity.app_id;
  settings().app_icon = identity.icon;
  platform::current().set_identity(identity);
}
