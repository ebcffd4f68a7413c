#include "core/usage.h"

#include <cstdio>
#include <cstring>

#ifndef QUIBEX_VERSION
#error "the build defines QUIBEX_VERSION"
#endif

const char* const kHostVersion = QUIBEX_VERSION;

int answer_help_or_version(int argc, char** argv) {
  if (argc < 2 || !argv[1]) return -1;
  const char* arg = argv[1];
  if (std::strcmp(arg, "--version") == 0) {
    std::printf("quibex %s\n", kHostVersion);
    return 0;
  }
  if (std::strcmp(arg, "--help") != 0 && std::strcmp(arg, "-h") != 0) return -1;
  const char* me = argv[0] ? argv[0] : "quibex";
  std::printf(
      "usage: %s <html-file-or-url> <socket-path> [title] [WxH] [version]\n"
      "       %s --help | --version\n"
      "\n"
      "Shows <html-file-or-url> (a page file, or an http:// or https:// address) in a\n"
      "window and carries out the commands of the backend that listens on\n"
      "<socket-path>, a Unix-domain socket.\n"
      "  title    the application's name (default \"quibex\")\n"
      "  WxH      the main window's size (default 960x640)\n"
      "  version  the application's version (default 0.0.0)\n"
      "Started without arguments from Name.app/Contents/MacOS, it runs that bundle's\n"
      "application instead.\n"
      "\n"
      "QUIBEX_DEBUG=1 says on stderr which of the backend's lines the host cannot use,\n"
      "and what the pages write to their consoles.\n",
      me, me);
  return 0;
}
