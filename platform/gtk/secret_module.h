#pragma once
// The secrets module (libquibex-secret.so): the Secret Service through libsecret,
// which the host loads only with it (platform/common/module_loader.h).

#include <functional>
#include <string>

#include "platform/system_access.h"

typedef struct _GCancellable GCancellable;

namespace platform::gtk {

// Main thread only. Items are generic passwords named by service and account.
// done runs exactly once on the main thread, later; with cancel cancelled it may
// be told so (the requester no longer listens by then).
class SecretStore {
 public:
  using Done = std::function<void(SecretResult)>;
  virtual ~SecretStore() = default;
  virtual void lookup(const std::string& service, const std::string& account, GCancellable* cancel, Done done) = 0;
  // Replaces the matching item in one step.
  virtual void store(const std::string& service, const std::string& account, const std::string& value,
                     GCancellable* cancel, Done done) = 0;
  virtual void clear(const std::string& service, const std::string& account, GCancellable* cancel, Done done) = 0;
};

}  // namespace platform::gtk
