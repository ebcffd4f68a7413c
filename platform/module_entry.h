#pragma once
// What a module of an optional service gets from the host: the desktops build
// their optional services (text recognition, the HTTP client, speech, ...) as
// modules that the host opens on first use (platform/common/module_loader.h), each
// exporting one C function, its entry, that makes the service. A module links no
// library of the host: it calls the host only through what its entry is handed.

namespace platform {

// What the host hands a module's entry. Grows at its end only.
struct ModuleHost {
  unsigned version = 1;
};

// A module's entry: the service (the interface its module header names), or null
// when it cannot start.
using ModuleEntry = void* (*)(const ModuleHost* host);

}  // namespace platform

// Defines a module's entry, the one symbol a module exports.
#define QUIBEX_MODULE_ENTRY(name) \
  extern "C" __attribute__((visibility("default"))) void* name(const platform::ModuleHost* host)
