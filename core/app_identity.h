#pragma once
// Who the host is on the desktop. In bundle mode every window carries the
// bundle's identity: its name as the windows' class, its application id, and
// its own icon; the host names itself the same way wherever it does (the
// clipboard's source, notifications). In command-line mode the windows keep
// the desktop's default names and there is no application id.
// Main thread; start-up sets the identity once, before the first window.

#include <string>

#include "platform/platform.h"

// The application id of the bundle at bundle_path (application_id_for with the
// bundle's directory name without ".app").
std::string bundle_application_id(const std::string& bundle_identifier, const std::string& bundle_path);

// The image file that the bundle's Info.plist names as its icon
// (CFBundleIconFile, a file in Contents/Resources, named with or without its
// extension) and that the desktop can read: the file as named, else one of the
// same name ending in .png, .svg or .icns. "" when the bundle names none, or
// when none of them can be read (said on stderr).
std::string bundle_icon_file(const platform::PlistDict& info, const std::string& bundle_path);

// The identity of a host that runs as `name`: in bundle mode the bundle's
// application id and icon; in command-line mode neither.
platform::HostIdentity host_identity(bool bundle_mode, const platform::PlistDict& info, const std::string& bundle_path,
                                     const std::string& name);

// Keeps the identity for the host's own use (settings().app_id, settings().app_icon) and hands it
// to the desktop.
void set_host_identity(const platform::HostIdentity& identity);
