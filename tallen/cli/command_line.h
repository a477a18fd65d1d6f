#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tallen {

// Exit statuses of the command line.
constexpr int kExitSuccess = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

// True when the program was given any argument: it then runs headless instead of opening the
// dialog.
bool isCommandLineInvocation(int argc, char** argv);

// Runs the command in `arguments` (program name excluded) in the current working directory with
// no window: the procedure's console lines and the result lines of inspect go to `out`, progress
// and errors to `err`. Returns kExitSuccess, kExitError or kExitUsage.
int runCommandLine(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

// As above with main's arguments (argv[0] is the program name).
int runCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err);

// As above on standard output and standard error.
int runCommandLine(int argc, char** argv);

}  // namespace tallen
