// How the movie's threads yield to the game's. The game's thread calls an
// export, or wakes from its frame's sleep, while the movie's threads keep
// both cores busy; every millisecond it then waits for a core is a
// millisecond of the game's frame.
#pragma once

// Threads the game's thread wakes (a stop, a pause, a play, a release) that
// have nothing due within milliseconds of the wake. Woken as ordinary threads,
// they took the game's core at once; the game's thread then waited behind the
// decoders for a core again: 1 to 4 ms of an export that takes a tenth of that.
//
// The calling thread, woken, no longer preempts a running thread: it runs on
// a free core or when the running thread's turn ends. Its share of the CPU
// is unchanged. Best effort: nothing happens where the system has no such
// policy.
void RunAsBackgroundThread();
// Back to an ordinary thread, for what is due as soon as it is woken.
void RunAsForegroundThread();

// Decoding and converting: work that is ahead of its time. In long turns, the
// calling thread gives its core to an ordinary thread as soon as that one
// wakes; in ordinary turns it kept the core until the scheduler's next tick
// (up to 4 ms), while the game's thread waited. Its share of the CPU is
// unchanged, and so is its policy. Threads it starts inherit its turns.
// Best effort: nothing happens where the system has no per-thread turns.
void RunInLongTurns();
// What is due at a time (a picture shown, sound handed to the device): turns
// between ordinary and long ones. Woken, the calling thread takes a core at
// once from a thread in long turns, but not from an ordinary one (the
// game's) whose turn is under way.
void RunInTimedTurns();
