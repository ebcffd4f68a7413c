#include "platform/pulse/pulse_audio.h"

#include <pulse/pulseaudio.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/common/audio_mix.h"
#include "platform/pulse/pulse_module.h"

namespace platform::pulse {

namespace {

static_assert(kPulseNoServer == PA_ERR_CONNECTIONREFUSED);

// Every stream of the host and its descendants carries kPulseTagKey with the
// host's pid; the host's own filter output also carries kInternalKey.
constexpr const char* kInternalKey = "quibex.internal";
constexpr const char* kSinkPrefix = "quibex_eq_";

// The monotonic clock, as the desktop's timers read it.
double now_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

pid_t parent_of(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  char state;
  int ppid = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) return 0;
  return ppid;
}

bool descends_from(pid_t pid, pid_t root) {
  for (int depth = 0; depth < 64 && pid > 1; ++depth) {
    if (pid == root) return true;
    pid = parent_of(pid);
  }
  return pid == root;
}

struct Input {
  uint32_t index = PA_INVALID_INDEX;
  uint32_t sink = PA_INVALID_INDEX;
  bool app = false;       // the host's or a descendant's
  bool host = false;      // the host process's own
  bool internal = false;  // the host's filter output
};

Input input_of(const pa_sink_input_info* i) {
  Input in;
  in.index = i->index;
  in.sink = i->sink;
  const pid_t self = getpid();
  const char* tag = pa_proplist_gets(i->proplist, kPulseTagKey);
  const char* pid_text = pa_proplist_gets(i->proplist, PA_PROP_APPLICATION_PROCESS_ID);
  const pid_t pid = pid_text ? pid_t(std::atol(pid_text)) : 0;
  in.internal = pa_proplist_gets(i->proplist, kInternalKey) != nullptr;
  in.host = pid == self;
  in.app = (tag && std::atol(tag) == long(self)) || (pid > 0 && descends_from(pid, self));
  return in;
}

bool in_scope(const Input& in, AudioScope scope) {
  switch (scope) {
    case AudioScope::kSystem: return true;
    case AudioScope::kSystemButApp: return !in.app && !in.internal;
    case AudioScope::kApp: return in.app && !in.internal;
    case AudioScope::kAppButHost: return in.app && !in.host && !in.internal;
  }
  return false;
}

class Server;

// A capture or a filter; stop() undoes it and is safe to call twice.
class Live : public AudioStream {
 public:
  explicit Live(Server* s) : server_(s) {
    static uint64_t next = 0;
    serial_ = ++next;
  }
  uint64_t serial() const { return serial_; }
  // Each kind stops in its own destructor, while stop_locked is still its own.
  virtual void stop_locked() = 0;
  // A sink input appeared (with its info) or went away; mainloop thread.
  virtual void input_added(const Input&) {}
  // A sink input changed (moved to another sink, for one).
  virtual void input_changed(const Input& in) { input_added(in); }
  virtual void input_removed(uint32_t) {}
  void stop();

 protected:
  Server* server_;
  uint64_t serial_ = 0;  // tells a new capture from a gone one at the same address
  bool stopped_ = false;
};

class Server : public AudioServer {
 public:
  explicit Server(PostToMain post_to_main) : post_to_main_(post_to_main) {}
  bool available() override;
  std::unique_ptr<AudioStream> capture(AudioScope scope, AudioFormat& format, Samples fn, int& status) override;
  std::unique_ptr<AudioStream> filter(AudioScope scope, AudioFormat& format, Filter fn, int& status) override;
  bool has_streams(AudioScope scope) override;
  void watch(std::function<void(Change)> fn) override {
    watched_ = bool(fn);
    watch_ = std::move(fn);
  }
  void shutdown() override;

  // Main thread, with the loop locked.
  void lock() { pa_threaded_mainloop_lock(ml_); }
  void unlock() { pa_threaded_mainloop_unlock(ml_); }
  bool ok() const { return ctx_ && !unresponsive_ && pa_context_get_state(ctx_) == PA_CONTEXT_READY; }
  int error() const {
    if (unresponsive_) return PA_ERR_TIMEOUT;
    return ctx_ ? pa_context_errno(ctx_) : PA_ERR_CONNECTIONREFUSED;
  }
  // A server that stops answering must not hang the main thread: every wait
  // gives up after kAnswerMs, and the server counts as gone from then on.
  static constexpr int kAnswerMs = 3000;
  struct Deadline {
    explicit Deadline(Server* s) : server(s) {
      pa_mainloop_api* api = pa_threaded_mainloop_get_api(s->ml_);
      timeval tv;
      pa_timeval_add(pa_gettimeofday(&tv), pa_usec_t(kAnswerMs) * 1000);
      ev = api->time_new(
          api, &tv,
          [](pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
            auto* d = static_cast<Deadline*>(ud);
            d->passed = true;
            d->server->signal();
          },
          this);
    }
    ~Deadline() {
      pa_threaded_mainloop_get_api(server->ml_)->time_free(ev);
      if (passed) server->unresponsive_locked();
    }
    Server* server;
    pa_time_event* ev = nullptr;
    bool passed = false;
  };
  void wait(pa_operation* op) {
    if (!op) return;
    Deadline d(this);
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && ok() && !d.passed) pa_threaded_mainloop_wait(ml_);
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_unref(op);
  }
  // The stream is ready or has failed.
  bool wait_ready(pa_stream* s) {
    Deadline d(this);
    for (;;) {
      pa_stream_state_t st = pa_stream_get_state(s);
      if (st == PA_STREAM_READY) return true;
      if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED || !ok() || d.passed) return false;
      pa_threaded_mainloop_wait(ml_);
    }
  }
  // Drops the connection to a server that stopped answering; the next use
  // connects anew (after the retry pause).
  void unresponsive_locked() {
    if (!ctx_ || unresponsive_) return;
    unresponsive_ = true;
    std::fprintf(stderr, "quibex: the sound server does not answer; audio is off until it does\n");
  }
  void signal() { pa_threaded_mainloop_signal(ml_, 0); }
  pa_context* ctx() { return ctx_; }
  std::vector<Input> inputs();
  struct Sink {
    bool found = false;
    uint32_t index = PA_INVALID_INDEX;
    std::string name, monitor;
    uint32_t rate = 48000;
  };
  Sink sink_named(const std::string& name);
  std::string default_sink();
  pa_stream* new_stream(const char* name, uint32_t rate, bool internal);

  std::set<Live*> live;  // every capture and filter not yet destroyed
  bool alive(Live* l, uint64_t serial) const { return live.count(l) && l->serial() == serial; }

 private:
  bool connect_locked();
  void disconnect_locked();
  void post(Change c) {
    post_to_main_([this, c] {
      if (watch_) watch_(c);
    });
  }
  static void on_state(pa_context* c, void* ud) {
    auto* self = static_cast<Server*>(ud);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) {
      // The server went away under running captures: what runs is rebuilt (and
      // fails, so nothing stays claimed as running) as after an output change.
      if (self->was_ready_) {
        self->was_ready_ = false;
        self->post(Change::kDefaultOutput);
      }
      self->retry_later_locked();
    }
    self->signal();
  }

  // While the server is gone and someone watches, the loop's thread tries a
  // connection of its own now and then (the main thread never waits for it);
  // once one gets through, the server's return is an output change, and the
  // rebuild that follows connects for real. Loop locked.
  static constexpr int kFirstRetryMs = 250, kMaxRetryMs = 5000;
  void retry_later_locked() {
    if (!watched_ || retry_ || probe_) return;
    retry_ms_ = retry_ms_ ? std::min(retry_ms_ * 2, kMaxRetryMs) : kFirstRetryMs;
    retry_ = after_locked(retry_ms_, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
      static_cast<Server*>(ud)->probe_locked();
    });
  }
  pa_time_event* after_locked(int ms, pa_time_event_cb_t fn) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(ml_);
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), pa_usec_t(ms) * 1000);
    return api->time_new(api, &tv, fn, this);
  }
  void free_event_locked(pa_time_event*& ev) {
    if (ev) pa_threaded_mainloop_get_api(ml_)->time_free(ev);
    ev = nullptr;
  }
  void probe_locked() {
    free_event_locked(retry_);
    if (ok()) {
      retry_ms_ = 0;
      return;
    }
    probe_ = pa_context_new(pa_threaded_mainloop_get_api(ml_), "quibex");
    if (!probe_) return retry_later_locked();
    pa_context_set_state_callback(
        probe_,
        [](pa_context* c, void* ud) {
          const pa_context_state_t st = pa_context_get_state(c);
          if (st == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(st))
            static_cast<Server*>(ud)->end_probe_locked(st == PA_CONTEXT_READY);
        },
        this);
    // A server that takes the connection but never answers counts as gone.
    probe_limit_ = after_locked(kAnswerMs, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
      static_cast<Server*>(ud)->end_probe_locked(false);
    });
    if (pa_context_connect(probe_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) end_probe_locked(false);
  }
  void end_probe_locked(bool back) {
    if (!probe_) return;
    free_event_locked(probe_limit_);
    pa_context* c = probe_;
    probe_ = nullptr;
    pa_context_set_state_callback(c, nullptr, nullptr);
    pa_context_disconnect(c);
    pa_context_unref(c);
    if (!back) return retry_later_locked();
    retry_ms_ = 0;
    failed_at_ = -1e9;  // the next use connects at once
    std::fprintf(stderr, "quibex: the sound server is back\n");
    post(Change::kDefaultOutput);
  }
  static void on_event(pa_context*, pa_subscription_event_type_t t, uint32_t idx, void* ud);
  void clean_stale_sinks_locked();

  const PostToMain post_to_main_;
  pa_threaded_mainloop* ml_ = nullptr;
  pa_context* ctx_ = nullptr;
  double failed_at_ = -1e9;
  std::string default_sink_;  // as last seen, mainloop thread
  bool was_ready_ = false;
  bool unresponsive_ = false;  // a wait ran out: treated as disconnected
  std::function<void(Change)> watch_;  // main thread
  std::atomic<bool> watched_{false};
  // Retrying a server that went away (loop locked).
  pa_time_event* retry_ = nullptr;
  pa_time_event* probe_limit_ = nullptr;
  pa_context* probe_ = nullptr;
  int retry_ms_ = 0;
};

void Live::stop() {
  if (stopped_) return;
  server_->lock();
  stop_locked();
  stopped_ = true;
  server_->live.erase(this);
  server_->unlock();
}

// ---- queries (main thread, loop locked) ----

std::vector<Input> Server::inputs() {
  struct Ctx {
    Server* s;
    std::vector<Input> out;
  } c{this, {}};
  wait(pa_context_get_sink_input_info_list(
      ctx_,
      [](pa_context*, const pa_sink_input_info* i, int eol, void* ud) {
        auto* c = static_cast<Ctx*>(ud);
        if (eol) return c->s->signal();
        if (i) c->out.push_back(input_of(i));
      },
      &c));
  return c.out;
}

Server::Sink Server::sink_named(const std::string& name) {
  struct Ctx {
    Server* s;
    Sink sink;
  } c{this, {}};
  wait(pa_context_get_sink_info_by_name(
      ctx_, name.c_str(),
      [](pa_context*, const pa_sink_info* i, int eol, void* ud) {
        auto* c = static_cast<Ctx*>(ud);
        if (eol) return c->s->signal();
        if (!i) return;
        c->sink.found = true;
        c->sink.index = i->index;
        c->sink.name = i->name ? i->name : "";
        c->sink.monitor = i->monitor_source_name ? i->monitor_source_name : "";
        c->sink.rate = i->sample_spec.rate ? i->sample_spec.rate : 48000;
      },
      &c));
  return c.sink;
}

std::string Server::default_sink() {
  struct Ctx {
    Server* s;
    std::string name;
  } c{this, {}};
  wait(pa_context_get_server_info(
      ctx_,
      [](pa_context*, const pa_server_info* i, void* ud) {
        auto* c = static_cast<Ctx*>(ud);
        if (i && i->default_sink_name) c->name = i->default_sink_name;
        c->s->signal();
      },
      &c));
  return c.name;
}

pa_stream* Server::new_stream(const char* name, uint32_t rate, bool internal) {
  pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, rate, 2};
  pa_channel_map map;
  pa_channel_map_init_stereo(&map);
  pa_proplist* props = pa_proplist_new();
  if (internal) pa_proplist_sets(props, kInternalKey, "1");
  pa_stream* s = pa_stream_new_with_proplist(ctx_, name, &spec, &map, props);
  pa_proplist_free(props);
  if (s) pa_stream_set_state_callback(s, [](pa_stream*, void* ud) { static_cast<Server*>(ud)->signal(); }, this);
  return s;
}

// Reads every fragment a record stream has, as interleaved stereo floats.
template <class F>
void read_all(pa_stream* s, F&& fn) {
  while (pa_stream_readable_size(s) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) return;
    static const float kSilence[256] = {};
    if (data) {
      fn(static_cast<const float*>(data), bytes / 8);
    } else {
      // A hole: silence of that length.
      for (size_t left = bytes / 8; left > 0;) {
        const size_t n = std::min<size_t>(left, 128);
        fn(kSilence, n);
        left -= n;
      }
    }
    pa_stream_drop(s);
  }
}

pa_buffer_attr record_attr(uint32_t rate) {
  pa_buffer_attr a;
  std::memset(&a, 0xff, sizeof a);
  a.fragsize = rate / 100 * 8;  // 10 ms
  return a;
}

// ---- capture ----

// The default output's monitor, or one monitor stream per chosen sink input
// mixed together.
class Capture : public Live {
 public:
  Capture(Server* s, AudioScope scope, uint32_t rate, AudioServer::Samples fn)
      : Live(s), scope_(scope), rate_(rate), fn_(std::move(fn)), mixer_(2, rate / 100, rate / 100 * 8) {}
  ~Capture() override { stop(); }

  // Loop locked.
  bool start_monitor(const std::string& monitor) {
    pa_stream* st = server_->new_stream("quibex tap", rate_, false);
    if (!st) return false;
    pa_stream_set_read_callback(st, &Capture::on_whole, this);
    pa_buffer_attr attr = record_attr(rate_);
    if (pa_stream_connect_record(st, monitor.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0 || !server_->wait_ready(st)) {
      pa_stream_unref(st);
      return false;
    }
    whole_ = st;
    return true;
  }
  // Loop locked (main thread or the loop's own thread).
  void add(const Input& in, const std::string& monitor) {
    if (streams_.count(in.index)) return;
    pa_stream* st = server_->new_stream("quibex tap", rate_, false);
    if (!st) return;
    if (pa_stream_set_monitor_stream(st, in.index) < 0) {
      pa_stream_unref(st);
      return;
    }
    auto* entry = new Entry{this, st, in.index};
    pa_stream_set_read_callback(st, &Capture::on_part, entry);
    pa_buffer_attr attr = record_attr(rate_);
    if (pa_stream_connect_record(st, monitor.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
      pa_stream_set_read_callback(st, nullptr, nullptr);
      pa_stream_set_state_callback(st, nullptr, nullptr);
      pa_stream_unref(st);
      delete entry;
      return;
    }
    mixer_.add_stream(in.index);
    streams_[in.index] = entry;
  }
  void input_added(const Input& in) override {
    if (whole_ || stopped_ || !in_scope(in, scope_)) return;
    // The sink's monitor is looked up asynchronously: this runs on the loop's thread.
    // The capture may be gone by the answer: it is looked up, never touched, until found alive.
    struct Ctx {
      Server* server;
      Capture* c;
      uint64_t serial;
      Input in;
    };
    pa_operation* op = pa_context_get_sink_info_by_index(
        server_->ctx(), in.sink,
        [](pa_context*, const pa_sink_info* i, int eol, void* ud) {
          auto* c = static_cast<Ctx*>(ud);
          if (eol) {
            delete c;
            return;
          }
          if (i && i->monitor_source_name && c->server->alive(c->c, c->serial)) c->c->add(c->in, i->monitor_source_name);
        },
        new Ctx{server_, this, serial_, in});
    if (op) pa_operation_unref(op);
  }
  // A sink input that moves loses the streams that monitored it: monitor it
  // again on the sink it plays to now.
  void input_changed(const Input& in) override {
    auto it = streams_.find(in.index);
    if (it != streams_.end()) {
      const pa_stream_state_t st = pa_stream_get_state(it->second->stream);
      if (st != PA_STREAM_FAILED && st != PA_STREAM_TERMINATED) return;
      drop(it->second);
      streams_.erase(it);
      mixer_.remove_stream(in.index, fn_);
    }
    input_added(in);
  }
  void input_removed(uint32_t index) override {
    auto it = streams_.find(index);
    if (it == streams_.end()) return;
    drop(it->second);
    streams_.erase(it);
    mixer_.remove_stream(index, fn_);
  }
  void stop_locked() override {
    if (whole_) {
      pa_stream_set_read_callback(whole_, nullptr, nullptr);
      pa_stream_disconnect(whole_);
      pa_stream_unref(whole_);
      whole_ = nullptr;
    }
    for (auto& [idx, e] : streams_) {
      drop(e);
      mixer_.remove_stream(idx, nullptr_out());
    }
    streams_.clear();
  }
  bool empty() const { return !whole_ && streams_.empty(); }

 private:
  struct Entry {
    Capture* owner;
    pa_stream* stream;
    uint32_t index;  // the sink input it monitors
  };
  // What is still queued when the capture stops is dropped.
  static const AudioServer::Samples& nullptr_out() {
    static const AudioServer::Samples none = [](const float*, size_t, int) {};
    return none;
  }
  static void drop(Entry* e) {
    pa_stream_set_read_callback(e->stream, nullptr, nullptr);
    pa_stream_set_state_callback(e->stream, nullptr, nullptr);
    pa_stream_disconnect(e->stream);
    pa_stream_unref(e->stream);
    delete e;
  }
  static void on_whole(pa_stream* s, size_t, void* ud) {
    auto* c = static_cast<Capture*>(ud);
    read_all(s, [c](const float* d, size_t frames) { c->fn_(d, frames, 2); });
  }
  static void on_part(pa_stream* s, size_t, void* ud) {
    auto* e = static_cast<Entry*>(ud);
    Capture* c = e->owner;
    read_all(s, [c, e](const float* d, size_t frames) { c->mixer_.push(e->index, d, frames, c->fn_); });
  }

  AudioScope scope_;
  uint32_t rate_;
  AudioServer::Samples fn_;
  pa_stream* whole_ = nullptr;
  std::map<uint32_t, Entry*> streams_;
  StreamMixer mixer_;
};

// ---- filter ----

// The chosen streams play into a private null sink; its monitor is filtered
// and played on the real output.
class FilterPath : public Live {
 public:
  FilterPath(Server* s, AudioScope scope, uint32_t rate, AudioServer::Filter fn)
      : Live(s), scope_(scope), rate_(rate), fn_(std::move(fn)) {}
  ~FilterPath() override { stop(); }

  int start_locked(const Server::Sink& out, const std::vector<Input>& chosen) {
    static int serial = 0;
    out_index_ = out.index;
    sink_name_ = kSinkPrefix + std::to_string(long(getpid())) + "_" + std::to_string(++serial);
    const std::string args = "sink_name=" + sink_name_ +
                             " sink_properties=device.description=quibex-eq format=float32le channels=2 rate=" +
                             std::to_string(rate_);
    struct Ctx {
      Server* s;
      uint32_t index = PA_INVALID_INDEX;
    } c{server_};
    server_->wait(pa_context_load_module(
        server_->ctx(), "module-null-sink", args.c_str(),
        [](pa_context*, uint32_t idx, void* ud) {
          auto* c = static_cast<Ctx*>(ud);
          c->index = idx;
          c->s->signal();
        },
        &c));
    if (c.index == PA_INVALID_INDEX) return server_->error() ? server_->error() : PA_ERR_UNKNOWN;
    module_ = c.index;
    Server::Sink null_sink = server_->sink_named(sink_name_);
    if (!null_sink.found) return PA_ERR_NOENTITY;
    null_index_ = null_sink.index;

    // The output first, so the sound is never lost between the move and the start.
    play_ = server_->new_stream("quibex equalizer", rate_, true);
    if (!play_) return server_->error();
    pa_buffer_attr pattr;
    std::memset(&pattr, 0xff, sizeof pattr);
    pattr.tlength = rate_ / 1000 * 40 * 8;  // 40 ms
    if (pa_stream_connect_playback(play_, out.name.c_str(), &pattr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0 ||
        !server_->wait_ready(play_))
      return server_->error() ? server_->error() : PA_ERR_UNKNOWN;
    rec_ = server_->new_stream("quibex equalizer input", rate_, true);
    if (!rec_) return server_->error();
    pa_stream_set_read_callback(rec_, &FilterPath::on_read, this);
    pa_buffer_attr rattr = record_attr(rate_);
    if (pa_stream_connect_record(rec_, null_sink.monitor.c_str(), &rattr, PA_STREAM_ADJUST_LATENCY) < 0 ||
        !server_->wait_ready(rec_))
      return server_->error() ? server_->error() : PA_ERR_UNKNOWN;
    for (const Input& in : chosen) move_in(in);
    return 0;
  }
  void input_added(const Input& in) override {
    if (!stopped_ && null_index_ != PA_INVALID_INDEX && in.sink != null_index_ && in_scope(in, scope_)) move_in(in);
  }
  void input_changed(const Input&) override {}
  void input_removed(uint32_t index) override { moved_.erase(index); }
  void stop_locked() override {
    // Every stream goes back, then what was loaded goes. One that played on
    // the default output follows the default of now (moved there by the
    // server's own name for it, which also leaves it to the server's routing
    // from then on); one that played elsewhere had its output chosen and
    // returns there.
    for (auto& [idx, from] : moved_)
      server_->wait(from.routed ? pa_context_move_sink_input_by_name(server_->ctx(), idx, "@DEFAULT_SINK@",
                                                                     &Server_done, server_)
                                : pa_context_move_sink_input_by_index(server_->ctx(), idx, from.sink,
                                                                      &Server_done, server_));
    moved_.clear();
    for (pa_stream** s : {&rec_, &play_})
      if (*s) {
        pa_stream_set_read_callback(*s, nullptr, nullptr);
        pa_stream_set_state_callback(*s, nullptr, nullptr);
        pa_stream_disconnect(*s);
        pa_stream_unref(*s);
        *s = nullptr;
      }
    if (module_ != PA_INVALID_INDEX)
      server_->wait(pa_context_unload_module(server_->ctx(), module_, &Server_done, server_));
    module_ = PA_INVALID_INDEX;
  }

 private:
  static void Server_done(pa_context*, int, void* ud) { static_cast<Server*>(ud)->signal(); }
  void move_in(const Input& in) {
    if (moved_.count(in.index)) return;
    moved_[in.index] = {in.sink, in.sink == out_index_};
    pa_operation* op = pa_context_move_sink_input_by_index(server_->ctx(), in.index, null_index_, nullptr, nullptr);
    if (op) pa_operation_unref(op);
  }
  static void on_read(pa_stream* s, size_t, void* ud) {
    auto* f = static_cast<FilterPath*>(ud);
    read_all(s, [f](const float* d, size_t frames) {
      if (!f->play_) return;
      // The null sink's clock and the output's drift apart: a block that would
      // push the output past its target latency is dropped, so the delay stays bounded.
      if (pa_stream_writable_size(f->play_) < frames * 8) return;
      f->out_.resize(frames * 2);
      f->fn_(d, f->out_.data(), frames, 2);
      pa_stream_write(f->play_, f->out_.data(), frames * 8, nullptr, 0, PA_SEEK_RELATIVE);
    });
  }

  AudioScope scope_;
  uint32_t rate_;
  AudioServer::Filter fn_;
  std::string sink_name_;
  uint32_t module_ = PA_INVALID_INDEX;
  uint32_t null_index_ = PA_INVALID_INDEX;
  pa_stream* play_ = nullptr;
  pa_stream* rec_ = nullptr;
  uint32_t out_index_ = PA_INVALID_INDEX;  // the default output when built
  struct From {
    uint32_t sink;  // the sink it came from
    bool routed;    // that was the default output: the server's routing put it there
  };
  std::map<uint32_t, From> moved_;  // sink input → where it came from
  std::vector<float> out_;
};

// ---- the server ----

bool Server::connect_locked() {
  if (ok()) return true;
  disconnect_locked();
  ctx_ = pa_context_new(pa_threaded_mainloop_get_api(ml_), "quibex");
  if (!ctx_) return false;
  pa_context_set_state_callback(ctx_, &Server::on_state, this);
  unresponsive_ = false;
  if (pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  {
    Deadline d(this);
    for (;;) {
      pa_context_state_t st = pa_context_get_state(ctx_);
      if (st == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(st) || d.passed) return false;
      pa_threaded_mainloop_wait(ml_);
    }
  }
  pa_context_set_subscribe_callback(ctx_, &Server::on_event, this);
  wait(pa_context_subscribe(
      ctx_, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER),
      [](pa_context*, int, void* ud) { static_cast<Server*>(ud)->signal(); }, this));
  default_sink_ = default_sink();
  clean_stale_sinks_locked();
  was_ready_ = ok();
  return ok();
}

void Server::disconnect_locked() {
  if (!ctx_) return;
  for (Live* l : std::set<Live*>(live)) l->stop_locked();
  pa_context_set_state_callback(ctx_, nullptr, nullptr);
  pa_context_set_subscribe_callback(ctx_, nullptr, nullptr);
  pa_context_disconnect(ctx_);
  pa_context_unref(ctx_);
  ctx_ = nullptr;
}

// A host that was killed left its null sink loaded: unload those whose host is gone.
void Server::clean_stale_sinks_locked() {
  struct Ctx {
    Server* s;
    std::vector<uint32_t> stale;
  } c{this, {}};
  wait(pa_context_get_module_info_list(
      ctx_,
      [](pa_context*, const pa_module_info* m, int eol, void* ud) {
        auto* c = static_cast<Ctx*>(ud);
        if (eol) return c->s->signal();
        if (!m || !m->name || !m->argument || std::strcmp(m->name, "module-null-sink") != 0) return;
        const char* at = std::strstr(m->argument, (std::string("sink_name=") + kSinkPrefix).c_str());
        if (!at) return;
        const long pid = std::atol(at + std::strlen("sink_name=") + std::strlen(kSinkPrefix));
        if (pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH) c->stale.push_back(m->index);
      },
      &c));
  for (uint32_t idx : c.stale)
    wait(pa_context_unload_module(ctx_, idx, [](pa_context*, int, void* ud) { static_cast<Server*>(ud)->signal(); },
                                  this));
}

void Server::on_event(pa_context* ctx, pa_subscription_event_type_t t, uint32_t idx, void* ud) {
  auto* self = static_cast<Server*>(ud);
  const unsigned facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const unsigned kind = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
    pa_operation* op = pa_context_get_server_info(
        ctx,
        [](pa_context*, const pa_server_info* i, void* ud) {
          auto* self = static_cast<Server*>(ud);
          const std::string now = i && i->default_sink_name ? i->default_sink_name : "";
          if (now == self->default_sink_) return;
          self->default_sink_ = now;
          self->post(Change::kDefaultOutput);
        },
        self);
    if (op) pa_operation_unref(op);
    return;
  }
  if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT) return;
  if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
    for (Live* l : std::set<Live*>(self->live)) l->input_removed(idx);
    self->post(Change::kStreams);
  } else {
    const bool added = kind == PA_SUBSCRIPTION_EVENT_NEW;
    pa_operation* op = pa_context_get_sink_input_info(
        ctx, idx,
        added ? [](pa_context*, const pa_sink_input_info* i, int eol, void* ud) {
          auto* self = static_cast<Server*>(ud);
          if (eol || !i) return;
          const Input in = input_of(i);
          for (Live* l : std::set<Live*>(self->live)) l->input_added(in);
        }
              : [](pa_context*, const pa_sink_input_info* i, int eol, void* ud) {
          auto* self = static_cast<Server*>(ud);
          if (eol || !i) return;
          const Input in = input_of(i);
          for (Live* l : std::set<Live*>(self->live)) l->input_changed(in);
        },
        self);
    if (op) pa_operation_unref(op);
    if (added) self->post(Change::kStreams);
  }
}

bool Server::available() {
  if (!ml_) {
    ml_ = pa_threaded_mainloop_new();
    if (!ml_ || pa_threaded_mainloop_start(ml_) < 0) return false;
  }
  lock();
  bool good = ok();
  // An unreachable server is tried again now and then, not on every command,
  // and not while the loop's thread is retrying it.
  const double now = now_ms();
  if (!good && !retry_ && !probe_ && now - failed_at_ > 2000) {
    good = connect_locked();
    if (!good) failed_at_ = now;
  }
  unlock();
  return good;
}

std::unique_ptr<AudioStream> Server::capture(AudioScope scope, AudioFormat& format, Samples fn, int& status) {
  if (!available()) {
    status = PA_ERR_CONNECTIONREFUSED;
    return nullptr;
  }
  lock();
  const Sink out = sink_named(default_sink());
  if (!out.found) {
    status = ok() ? kAudioNoDevice : error();
    unlock();
    return nullptr;
  }
  auto cap = std::make_unique<Capture>(this, scope, out.rate, std::move(fn));
  bool started = false;
  if (scope == AudioScope::kSystem) {
    started = cap->start_monitor(out.monitor);
    status = started ? 0 : error();
  } else {
    std::vector<Input> chosen;
    for (const Input& in : inputs())
      if (in_scope(in, scope)) chosen.push_back(in);
    for (const Input& in : chosen) {
      // Each stream's monitor is that of the sink it plays to.
      struct Ctx {
        Server* s;
        std::string monitor;
      } c{this, {}};
      wait(pa_context_get_sink_info_by_index(
          ctx_, in.sink,
          [](pa_context*, const pa_sink_info* i, int eol, void* ud) {
            auto* c = static_cast<Ctx*>(ud);
            if (eol) return c->s->signal();
            if (i && i->monitor_source_name) c->monitor = i->monitor_source_name;
          },
          &c));
      if (!c.monitor.empty()) cap->add(in, c.monitor);
    }
    // The application's own sound needs something of it playing; everything
    // but the application may well be silent for now.
    started = ok() && (scope == AudioScope::kSystemButApp || !cap->empty());
    status = started ? 0 : !ok() ? error() : kAudioNoProcess;
  }
  if (started) live.insert(cap.get());
  unlock();
  if (!started) {
    cap->stop();
    return nullptr;
  }
  format = {double(out.rate), 2};
  return cap;
}

std::unique_ptr<AudioStream> Server::filter(AudioScope scope, AudioFormat& format, Filter fn, int& status) {
  if (!available()) {
    status = PA_ERR_CONNECTIONREFUSED;
    return nullptr;
  }
  lock();
  std::vector<Input> chosen;
  for (const Input& in : inputs())
    if (in_scope(in, scope)) chosen.push_back(in);
  const Sink out = sink_named(default_sink());
  status = !ok() ? error() : chosen.empty() ? kAudioNoProcess : !out.found ? kAudioNoDevice : 0;
  std::unique_ptr<FilterPath> path;
  if (status == 0) {
    path = std::make_unique<FilterPath>(this, scope, out.rate, std::move(fn));
    live.insert(path.get());
    status = path->start_locked(out, chosen);
  }
  unlock();
  if (status != 0) {
    path.reset();  // undoes whatever was made
    return nullptr;
  }
  format = {double(out.rate), 2};
  return path;
}

bool Server::has_streams(AudioScope scope) {
  if (!available()) return false;
  lock();
  bool any = false;
  for (const Input& in : inputs()) any = any || in_scope(in, scope);
  unlock();
  return any;
}

void Server::shutdown() {
  if (!ml_) return;
  lock();
  for (Live* l : std::set<Live*>(live)) l->stop_locked();
  unlock();
}

}  // namespace

AudioServer* make_pulse_server(PostToMain post_to_main) { return new Server(post_to_main); }

}  // namespace platform::pulse
