// How the movie's threads yield to the game's. The game's thread calls an
// export, or wakes from its frame's sleep, while the movie's threads keep
// both cores busy; every millisecond it then waits for a core is a
// millisecond of the game's frame.
#pragma once

// The game's thread is placed with no time owed when it wakes, so it stops
// being eligible once it has run for microseconds. Then any thread that takes
// its core (woken by the game's call, or by its own timer) hands the core on
// to a decoding thread when it sleeps, and the game's thread waits for the
// next tick: 1 to 4 ms of an export that takes a tenth of that. So none of
// the movie's threads takes a core by waking.
//
// The calling thread, woken, no longer preempts a running thread: it runs on
// a free core, or when the running thread sleeps or its turn ends. Its share
// of the CPU is unchanged. Best effort: nothing happens where the system has
// no such policy.
void RunAsBackgroundThread();
// Back to an ordinary thread, for what is due as soon as it is woken and is
// woken by the movie's own threads, never by the game's.
void RunAsForegroundThread();

// Both kinds of turns below make the thread a background one as well; they
// order the movie's threads among themselves at the core's turns. Threads
// the caller starts inherit policy and turn. Nice is left alone. Best effort:
// kernels without per-thread turns keep the ordinary turn.
//
// Decoding and converting: work that is ahead of its time.
void RunInLongTurns();
// What is due at a time (a picture shown, sound handed to the device, the
// clock's advise): shorter turns than the long ones, so at a core's turn it
// goes before the decoding threads, at most a tick after its time.
void RunInTimedTurns();
