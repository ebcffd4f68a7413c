#pragma once
// The features' share of start-up: fills the core's start-up phases
// (core/startup_phases.h) with the installers of webui, services and ai, each in
// the phase that keeps its place in the start-up order. main() installs them
// before launcher_main, and the unit tests' harness the same way. Main thread;
// calling it again installs the same parts again.

void install_startup_parts();
