// How the movie's threads yield to the game's. The game's thread calls an
// export, or wakes from its frame's sleep, while the movie's threads keep
// both cores busy; every millisecond it then waits for a core is a
// millisecond of the game's frame.
#pragma once

// The game's thread is placed with no time owed when it wakes, so it stops
// being eligible once it has run for microseconds. Then any thread that takes
// its core (woken by the game's call, or by its own timer) hands the core on
// to a decoding thread when it sleeps, and the game's thread waits for the
// next tick: 1 to 4 ms of an export that takes a tenth of that. So the
// movie's threads take no core by waking, but for the picture's path.
//
// The calling thread, woken, no longer preempts a running thread: it runs on
// a free core, or when the running thread sleeps or its turn ends. Its share
// of the CPU is unchanged. Best effort: nothing happens where the system has
// no such policy.
void RunAsBackgroundThread();
// Back to an ordinary thread, for what is due as soon as it is woken and is
// woken by the movie's own threads, never by the game's.
void RunAsForegroundThread();

// Turns order the movie's threads among themselves at a core's turn: the
// thread whose turn ends first goes first. Only on the library's own threads,
// and set to reset on fork: threads the caller starts begin with the ordinary
// turn, but keep a batch policy, so no sound device is opened after. Nice is
// left alone, so no privilege is needed. Best effort: kernels without
// per-thread turns keep the ordinary turn.
//
// Decoding and converting, work that is ahead of its time: a background
// thread in long turns.
void RunInLongTurns();
// What is due at a time and woken by the movie's own threads and clock: a
// picture shown, the run started on the first picture. An ordinary thread in
// shorter turns, so that it takes its core from a decoding thread at once.
// It can take the game's core as well, once the game's thread has run for
// microseconds; only the picture's path, a few wake-ups a frame, is left so.
void RunInTimedTurns();
// What is due at a time but buffered ahead (sound handed to the device, the
// device's own mixer, the end of a movie's notice): a background thread in
// the same shorter turns. It may wait for a core's turn, up to a few ticks
// while the decoders keep both cores busy, and never takes the game's core.
void RunInBufferedTurns();

// First thing a movie's thread does once it has set its turns. A new thread
// takes its starter's core when the starter has run for a while (the game's,
// through a load), and one that then backed a surface's pages kept it for
// 2.7 ms while the other core was idle. The new thread gives the core back
// and waits for a core's turn.
void GiveWayToStarter();
// After RunInLongTurns on a thread that ran on the picture's path until now:
// a thread it woke meanwhile (the game's, waiting for a lock it held) still
// waits for this core, since a change of turns does not hand it over; drawing
// the next picture ahead then kept it from the game for 3.5 ms at 4K. Lets
// the threads waiting for this core go first.
void GiveWayToWoken();

// The calling thread's id for the call below; 0 where the system has none.
long ThisThreadId();
// Makes the thread `id` of this process an ordinary one, before it is woken
// for something the caller then waits for (a stop it joins): woken, it takes
// a core at once instead of waiting for a core's turn behind the decoders.
// Nothing for 0. The thread must not end meanwhile.
void MakeForegroundThread(long id);
