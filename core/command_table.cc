#include "core/command_table.h"

namespace {
// Written before the reader thread starts, read by it afterwards: the thread's
// start orders the two.
CommandTable g_table;
}  // namespace

void install_command_table(const CommandTable& table) { g_table = table; }

const CommandTable& command_table() { return g_table; }
