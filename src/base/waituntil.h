#ifndef WAITUNTIL_H
#define WAITUNTIL_H

#include <functional>

// Runs this thread's event loop until `done` holds: true then, false once
// `timeoutMs` has passed first (never for a negative timeout). `done` is
// looked at after every round of events and at least every `checkMs`, so
// neither a busy loop nor a quiet one postpones it, and nothing sleeps
// between rounds: a wait costs what the awaited exchange costs.
bool waitUntil(const std::function<bool()> &done, int timeoutMs, int checkMs = 5);

#endif // WAITUNTIL_H
