// Threads the game's thread wakes (a stop, a pause, a play, a release) that
// have nothing due within milliseconds of the wake. Woken as ordinary threads,
// they took the game's core at once; the game's thread then waited behind the
// decoders for a core again: 1 to 4 ms of an export that takes a tenth of that.
#pragma once

// The calling thread, woken, no longer preempts a running thread: it runs on
// a free core or when the running thread's turn ends. Its share of the CPU
// is unchanged. Best effort: nothing happens where the system has no such
// policy.
void RunAsBackgroundThread();
// Back to an ordinary thread, for what is due as soon as it is woken.
void RunAsForegroundThread();
