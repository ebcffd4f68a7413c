#pragma once
// What the system, notification and media services add to start-up: app/ adds
// them when it wires the host; the services' unit tests add them too. Main thread.

#include "core/startup_phases.h"

// Adds the services' start-up parts to their phases.
void add_service_startup_parts(StartupPhases& p);
