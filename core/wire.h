#pragma once
// The sending half of the backend socket: every line the host writes goes out
// through here, in order. The text of the lines is base/wire_text's.

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

// The connected backend socket; -1 until connected.
extern int g_sock;
// Guards g_sock, g_pending_out and the outgoing queue; every line enters the
// wire while it is held, so lines keep the order in which they were written.
extern std::mutex g_write_mutex;
// Lines written before the backend connected, oldest first, without their LF.
extern std::deque<std::string> g_pending_out;

constexpr size_t kPendingOutMax = 512;
// Bytes that may wait for a backend that does not read, before lines are dropped.
constexpr size_t kOutQueueMax = size_t(64) << 20;

// Sends one wire line (without its LF) from any thread. A line holding CR or LF is
// refused with a diagnostic; before the connection up to 512 lines wait. Never
// blocks on the socket: what the socket cannot take at once waits in order for a
// writer thread. Takes the line by value: a caller done with it moves it in.
void sock_write_line(std::string line);
// Puts bytes on the wire after everything written before; call with
// g_write_mutex held.
void sock_write_raw(std::string bytes);
// Publishes the accepted backend socket and hands what waited to the wire, in
// order, without waiting for the backend to read it.
void sock_set_connected(int fd);
// Whether a backend is connected now (g_sock is not negative); from any thread.
bool sock_connected();
// Waits up to timeout_ms for the queued bytes to reach the socket; true when
// nothing waits any more (or the backend has gone).
bool sock_flush(int timeout_ms);
// The bytes waiting for the socket now.
size_t sock_queued_bytes();

// Back to the state before any connection; for tests that reuse the process.
void wire_reset_for_tests();
// Sets the queue bound (0 = kOutQueueMax); for tests.
void wire_set_queue_limit_for_tests(size_t bytes);
