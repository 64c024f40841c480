// The movie file as FFmpeg reads it: opened here rather than by FFmpeg so that
// opening never waits (a FIFO without a writer blocks a plain open() for good)
// and only a regular file is read, through the very descriptor that was
// checked, so the path cannot be swapped for something else in between.
// Nothing else is read: a container that names other files or URLs
// (playlists, references, image sequences) has FFmpeg open them itself,
// past every check made here, so every such open is refused.
//
// Not thread-safe: used by the one thread that reads the movie file.
#pragma once

#include <memory>
#include <string>

#include "mediagraph/decode/av_handles.h"
#include "mediagraph/decode/open_status.h"

namespace mediagraph {

class FileInput {
 public:
  // Opens `path` (UTF-8) without waiting. kOk with *out set, or the reason:
  // kNotFound, kAccessDenied (a directory too), kNameTooLong, kNotRegularFile
  // (FIFO, socket, device), kNoMemory, kUnreadable.
  static OpenStatus Open(const std::string &path, std::unique_ptr<FileInput> *out);
  ~FileInput();

  FileInput(const FileInput &) = delete;
  FileInput &operator=(const FileInput &) = delete;

  // Makes `format` read this file and nothing else: its pb (owned here; it
  // must outlive the context), an opener that refuses every other file, and
  // no protocol for the contexts FFmpeg makes inside it (concatenation).
  // False when out of memory.
  bool Attach(AVFormatContext *format);
  // Whether the container asked for another file or URL (it was refused).
  bool RefusedAnOpen() const { return refused_; }

 private:
  explicit FileInput(int fd) : fd_(fd) {}
  static int Read(void *opaque, uint8_t *buffer, int size);
  static int64_t Seek(void *opaque, int64_t offset, int whence);
  static int RefuseOpen(AVFormatContext *format, AVIOContext **io, const char *url, int flags,
                        AVDictionary **options);

  int fd_;
  AVIOContext *io_ = nullptr;
  bool refused_ = false;
};

}  // namespace mediagraph
