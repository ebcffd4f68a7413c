#pragma once
// A desktop shell that records what it was asked and answers what the test set.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/desktop_shell.h"

namespace platform::fake {

class FakeDesktopShell : public DesktopShell {
 public:
  void open_uri(const std::string& uri, std::function<void(bool, std::string)> done) override {
    opened.push_back(uri);
    const bool ok = !refuse_open.count(uri);
    done(ok, ok ? "" : "no handler");
  }
  bool path_exists(const std::string& path) override { return files.count(path) > 0; }
  void reveal(const std::string& path) override { revealed.push_back(path); }
  bool trash(const std::string& path, std::string& error) override {
    trashed.push_back(path);
    if (!files.erase(path)) {
      error = "No such file or directory";
      return false;
    }
    return true;
  }
  void inhibit(bool display, const std::string& who, const std::string& reason,
               std::function<void(std::uint64_t)> done) override {
    inhibit_asks.push_back({display, who, reason, std::move(done)});
    if (!hold_inhibit) answer_inhibit(inhibit_asks.size() - 1);
  }
  // Answers the inhibition asked for at index i (granted unless refuse_inhibit).
  void answer_inhibit(size_t i) {
    auto done = std::move(inhibit_asks.at(i).done);
    std::uint64_t token = refuse_inhibit ? 0 : ++last_token;
    if (token) held.insert(token);
    if (done) done(token);
  }
  void uninhibit(std::uint64_t token) override {
    held.erase(token);
    released.push_back(token);
  }
  void play_sound(const std::string& name, std::function<void(bool)> done) override {
    sounds.push_back(name);
    sound_answers.push_back(std::move(done));
    if (!hold_sounds) answer_sound(sounds.size() - 1);
  }
  // Answers the sound asked for at index i: played when its name is known.
  void answer_sound(size_t i) {
    auto done = std::move(sound_answers.at(i));
    if (done) done(sounds.at(i).empty() || known_sounds.count(sounds.at(i)) > 0);
  }
  void search(const std::string& query, const std::string& home, int limit, int timeout_ms,
              std::function<void(std::vector<std::string>)> done) override {
    searches.push_back(query);
    search_limits.push_back(limit);
    done(search_results);
  }

  void share(WebView* view, const ShareItems& items, int x, int y) override {
    shares.push_back({view, items, x, y});
  }
  void preview(const std::vector<std::string>& paths) override { previews.push_back(paths); }

  struct Share {
    WebView* view;
    ShareItems items;
    int x, y;
  };
  std::vector<Share> shares;
  std::vector<std::vector<std::string>> previews;
  std::set<std::string> files;
  std::set<std::string> refuse_open;
  std::vector<std::string> opened, revealed, trashed, sounds, searches;
  std::vector<int> search_limits;
  std::set<std::string> known_sounds;
  std::vector<std::function<void(bool)>> sound_answers;
  bool hold_sounds = false;  // answered only through answer_sound, as a server that hangs would
  std::vector<std::string> search_results;

  struct InhibitAsk {
    bool display;
    std::string who, reason;
    std::function<void(std::uint64_t)> done;
  };
  std::vector<InhibitAsk> inhibit_asks;
  bool hold_inhibit = false;
  bool refuse_inhibit = false;
  std::set<std::uint64_t> held;
  std::vector<std::uint64_t> released;
  std::uint64_t last_token = 0;
};

}  // namespace platform::fake
