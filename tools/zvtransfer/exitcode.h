#ifndef EXITCODE_H
#define EXITCODE_H

// How a run of zv-transfer ends, as its --help and manual list them; every
// command uses them alike.
enum ExitCode { ExitDone = 0, ExitSomeFailed = 1, ExitUsage = 2, ExitUnreachable = 3, ExitNothingMatched = 4 };
// A run ended by a signal exits with 128 + its number, as shells report it.
constexpr int ExitBySignal = 128;

#endif // EXITCODE_H
