// Names the calling thread as tools show it (top -H, perf, gdb), so a game
// developer can tell the movie's threads from the game's own. Threads the
// named one starts (FFmpeg's decoding threads) inherit the name.
#pragma once

// At most 15 characters are kept. Best effort: nothing happens where the
// system has no thread names.
void NameThisThread(const char *name);
