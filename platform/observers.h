#pragma once
// A list of observers that may add or remove observers (themselves included)
// while a notice is delivered. Main thread only.

#include <functional>
#include <map>
#include <vector>

namespace platform {

template <class... Args>
class ObserverList {
 public:
  using Fn = std::function<void(Args...)>;
  int add(Fn fn) {
    const int token = next_++;
    fns_[token] = std::move(fn);
    return token;
  }
  void remove(int token) { fns_.erase(token); }
  // Observers added meanwhile do not hear this notice; removed ones stop at once.
  void notify(Args... args) {
    std::vector<int> tokens;
    for (auto& [token, fn] : fns_) tokens.push_back(token);
    for (int token : tokens) {
      auto it = fns_.find(token);
      if (it == fns_.end()) continue;
      Fn fn = it->second;  // a copy: the observer may remove itself
      fn(args...);
    }
  }

 private:
  std::map<int, Fn> fns_;
  int next_ = 1;
};

}  // namespace platform
