// One bound for everything the library waits for at exit: the game's exit
// takes at most a second longer for it, however many handlers wait.
#pragma once

#include <chrono>

// A second after the first call (the first exit handler to wait); every
// handler waits no later than this. Any thread.
std::chrono::steady_clock::time_point ExitDeadline();
