#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tallen {

// Exit statuses of the command line.
constexpr int kExitSuccess = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
// inspect: a picture failed its verdict; status: the working files do not match their record.
constexpr int kExitCheckFailed = 3;

// True when the program was given any argument: it then runs headless instead of opening the
// dialog.
bool isCommandLineInvocation(int argc, char** argv);

// Runs the command in `arguments` (program name excluded) in the current working directory (or
// the one -C names, for the call's duration) with no window: the procedure's console lines and
// the result lines of inspect go to `out` (the trace lines to `err` with a csv or json format),
// progress, warnings and errors to `err`; "-" as the only picture reads the paths from `in`.
// Returns one of the exit statuses above.
int runCommandLine(const std::vector<std::string>& arguments, std::FILE* in, std::FILE* out,
                   std::FILE* err);

// As above with the paths of "-" from standard input.
int runCommandLine(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

// As above with main's arguments (argv[0] is the program name).
int runCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err);

// As above on standard output and standard error.
int runCommandLine(int argc, char** argv);

}  // namespace tallen
