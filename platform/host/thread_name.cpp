#include "platform/host/thread_name.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

void NameThisThread([[maybe_unused]] const char *name) {
#if defined(__linux__)
  // prctl truncates to 15 characters where pthread_setname_np refuses.
  prctl(PR_SET_NAME, name, 0, 0, 0);
#endif
}
