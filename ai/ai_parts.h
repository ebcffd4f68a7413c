#pragma once
// What the on-device model adds to start-up: the model server's settings.
// app/ adds it when it wires the host. Main thread.

#include "core/startup_phases.h"

// Adds the model's start-up part to its phase.
void add_ai_startup_parts(StartupPhases& p);
