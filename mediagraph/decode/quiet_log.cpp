#include "mediagraph/decode/quiet_log.h"

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace mediagraph {

void QuietLog(void *object) {
  if (object == nullptr) return;
  const AVClass *const type = *static_cast<const AVClass *const *>(object);
  if (type == nullptr || type->log_level_offset_offset <= 0) return;
  *reinterpret_cast<int *>(static_cast<uint8_t *>(object) + type->log_level_offset_offset) =
      kQuietLogOffset;
}

void QuietLog(AVFormatContext *format) {
  if (format == nullptr || format->av_class != avformat_get_class()) return;
  static const AVClass quiet = [] {
    AVClass copy = *avformat_get_class();
    copy.log_level_offset_offset =
        static_cast<int>(offsetof(AVFormatContext, metadata_header_padding));
    return copy;
  }();
  format->metadata_header_padding = kQuietLogOffset;
  format->av_class = &quiet;
}

QuietStreamOptions::QuietStreamOptions(const AVFormatContext *format)
    : options_(format->nb_streams, nullptr) {
  for (AVDictionary *&options : options_) {
    av_dict_set_int(&options, "log_level_offset", kQuietLogOffset, 0);
  }
}

QuietStreamOptions::~QuietStreamOptions() {
  for (AVDictionary *&options : options_) av_dict_free(&options);
}

}  // namespace mediagraph
