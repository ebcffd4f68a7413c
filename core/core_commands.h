#pragma once
// The fields of the command table that this folder carries out: core's own commands: the bridge's answers and scripts, titles, sizes, windows and quitting.
// app/ calls it when it fills the table; a folder's unit tests call it, and those
// of the folders below, for a table of what they can reach.

#include "core/command_table.h"

// Sets this folder's fields of t and leaves the others as they are. Any thread.
void fill_core_commands(CommandTable& t);
