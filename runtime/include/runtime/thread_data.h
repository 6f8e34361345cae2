// Per-thread runtime data: slots that libraries register at start-up, one zero-filled block
// per thread holding all of them, and clean-ups that run once when a thread ends (also
// when it was stopped by ThreadKill), after the thread's own code has finished.
#pragma once

#include <cstdint>

using SlotFunction = void (*)(void* slot);
using ExitFunction = void (*)(void* argument);

// Registers a slot of size bytes (rounded up to 8) and returns its offset in the block.
// Start-up only, before any other thread exists. The initialiser, if any, runs at once on
// the registering thread's slot; in other threads it runs when their block is created.
std::int64_t RegisterThreadSlot(std::int64_t size, SlotFunction initialiser,
                                SlotFunction releaseFunction);

// The calling thread's slot at offset; the thread's block is created on first use, its
// initialisers run (newest registration first), and its release is registered to run
// at thread exit (release functions newest first, then the block).
void* ThreadSlot(std::int64_t offset);

// Adds a clean-up for the calling thread, run at its end, newest first. Returns an entry
// token, or null when memory ran out (nothing is registered then).
void* OnThreadExit(ExitFunction function, void* argument);

// Shut-down. The registrations stay: a thread still ending after shut-down releases its
// block through them, and no library registers a slot twice (each one keeps the offset it
// got for the life of the process). The start-up thread's data goes with the process.
void PerThreadDataEnd();
