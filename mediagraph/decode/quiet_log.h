// FFmpeg logs a message through the object it is about, after adding that
// object's log level offset. Ours get one that puts every message about them
// below the most talkative level a host can ask for (AV_LOG_TRACE), so that
// the process's level and callback stay the game's, for its own use of
// FFmpeg, and damaged movies do not fill its console.
#pragma once

#include <memory>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mediagraph {

// From AV_LOG_FATAL down, every message ends past AV_LOG_TRACE.
inline constexpr int kQuietLogOffset = AV_LOG_TRACE;

// Any FFmpeg object whose class keeps a log level offset (codec contexts, the
// resampler); nothing for others.
void QuietLog(void *object);
// A format context's class keeps none: it gets a copy of its class that does,
// kept in a field demuxing never uses. Before the context is opened.
void QuietLog(AVFormatContext *format);

// Options for avformat_find_stream_info: the decoders it opens for itself
// are quiet too.
class QuietStreamOptions {
 public:
  explicit QuietStreamOptions(const AVFormatContext *format);
  ~QuietStreamOptions();
  QuietStreamOptions(const QuietStreamOptions &) = delete;
  QuietStreamOptions &operator=(const QuietStreamOptions &) = delete;

  AVDictionary **Get() { return options_.empty() ? nullptr : options_.data(); }

 private:
  std::vector<AVDictionary *> options_;
};

}  // namespace mediagraph
