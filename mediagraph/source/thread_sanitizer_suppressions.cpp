// ThreadSanitizer builds only. FFmpeg's decoding threads and OpenAL's mixing
// thread hand memory to each other with atomics inside those libraries,
// which are not instrumented, so ThreadSanitizer reports their frees and
// copies as races. Those reports are about the libraries' own internals;
// everything of ours stays checked.
#if defined(__SANITIZE_THREAD__)

extern "C" const char *__tsan_default_suppressions() {
  return "called_from_lib:libavcodec.so\n"
         "called_from_lib:libavutil.so\n"
         "called_from_lib:libopenal.so\n"
         // Slice threads lock in their own order inside libavutil, and hand
         // their mutex between threads in ways it cannot follow.
         "deadlock:libavutil.so\n"
         "mutex:libavutil.so\n";
}

#endif
