// Runs another program (rsync) without a shell, its standard output captured and its
// standard error passed through to ours, so the user sees its own messages.
#pragma once

#include <string>
#include <vector>

// Runs argv[0], found on PATH, with `argv`. True when it ran to its end; `exitCode` is
// then its exit status (or 128 + the signal that ended it). False with `error` when it
// could not be started. With `output` null its standard output goes to our standard
// error (progress shown to the user, never mixed into our results). `quiet` discards its
// standard error (a trial run whose failure is an answer, not a fault).
bool RunProgram(const std::vector<std::string>& argv,
                std::string* output,
                int& exitCode,
                std::string& error,
                bool quiet = false);
