#include "platform/fake/fake_system_info.h"

#include <stdexcept>

namespace platform::fake {

namespace {

template <class T>
void answer(FakeSystemInfo& self, const std::optional<T>& value,
            std::function<void(std::optional<T>)> done) {
  if (self.fail) throw std::runtime_error("the desktop failed");
  if (!self.hold) return done(value);
  self.held.push_back([&value, done = std::move(done)] { done(value); });
}

}  // namespace

void FakeSystemInfo::power_source(std::function<void(std::optional<PowerSource>)> done) {
  answer(*this, power, std::move(done));
}

void FakeSystemInfo::wifi(std::function<void(std::optional<WifiLink>)> done) { answer(*this, link, std::move(done)); }

void FakeSystemInfo::selected_text(std::function<void(std::optional<std::string>)> done) {
  answer(*this, selection, std::move(done));
}

}  // namespace platform::fake
