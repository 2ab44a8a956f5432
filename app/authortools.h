// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

// The command-line tools for course authors: "--check" and "--play". They run instead of the
// player's window.
namespace kestAuthorTools {

// The exit status when the command line asks for one of the tools; nothing when it does not
// (the player starts as usual).
std::optional<int> run(int argc, char *argv[]);

// "kestora --check PATH... [--format text|json]": 0 without errors, 1 with errors, 2 for a usage
// error or an unreadable path.
int check(int argc, char *argv[]);
// "kestora --play COURSE --script STEPS [--junit FILE] [--home DIR]": 0 when every step passed,
// 1 otherwise, 2 for a usage error.
int play(int argc, char *argv[]);

} // namespace kestAuthorTools
