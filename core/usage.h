#pragma once
// What the host says about how it is started: its version, and the answer to
// --help, -h and --version, which needs neither a display nor a backend.

// The host's own version, from the build.
extern const char* const kHostVersion;

// When the first argument asks for help or the version, writes the answer to
// stdout and returns the exit code (0); otherwise returns -1 and writes nothing.
int answer_help_or_version(int argc, char** argv);
