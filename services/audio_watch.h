#pragma once
// One watch on the audio server's changes (its default output, the set of
// playing streams), shared by the services that follow them, the tap and the
// equalizer: the server keeps a single watcher, so each service joins this list
// instead of watching it itself, and none of them names another. Main thread
// only.

#include <functional>

#include "platform/audio.h"

using AudioChangeFn = std::function<void(platform::AudioServer::Change)>;

// Adds fn to the list once (while token is 0; token is then set) and makes sure
// the current audio server is watched. Joined functions hear every change from
// then on, in the order they joined; nothing when there is no audio server.
void audio_watch_join(int& token, AudioChangeFn fn);
// Forgets which server is watched, so that the next join watches the current one
// again (a test's new desktop may reuse the address); the joined functions stay.
void audio_watch_reset();
