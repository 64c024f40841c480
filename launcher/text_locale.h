// The character-type locale the interpreter and the movie library read paths with.
#pragma once

// Where the environment leaves the character type at the plain C locale (ASCII), switches
// it to C.UTF-8 for this process and its children, so file names beyond ASCII (a game
// folder under a Chinese path, a movie's name) reach the interpreter and the narrow movie
// load intact. Any other locale, and LC_ALL, are left as the player set them. Call before
// the interpreter starts.
void PreferUtf8TextLocale();
