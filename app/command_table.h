#pragma once
// The command table of the real host: each command of the protocol bound to the
// handler of the folder that carries it out. The one place that names them all.

#include "core/command_table.h"

// Every field filled. Pure; any thread.
CommandTable app_command_table();
