#include "launcher/text_locale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <langinfo.h>
#endif

void PreferUtf8TextLocale() {
#ifndef _WIN32
  const char *chosen = std::setlocale(LC_CTYPE, "");
  const bool plainC = chosen == nullptr || std::strcmp(chosen, "C") == 0 ||
                      std::strcmp(chosen, "POSIX") == 0;
  if (!plainC || std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
  // The interpreter sets the character type from the environment again when it starts.
  setenv("LC_CTYPE", "C.UTF-8", 1);
  if (std::setlocale(LC_CTYPE, "") == nullptr) {
    unsetenv("LC_CTYPE");
    std::setlocale(LC_CTYPE, "C");
  }
#endif
}
