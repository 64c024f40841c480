#include "mediagraph/decode/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mediagraph {

namespace {

constexpr int kBufferSize = 32768;

OpenStatus StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP: return OpenStatus::kNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return OpenStatus::kAccessDenied;
    case ENAMETOOLONG: return OpenStatus::kNameTooLong;
    case ENXIO:  // a socket, or a device with nothing behind it
    case ENODEV: return OpenStatus::kNotRegularFile;
    case ENOMEM: return OpenStatus::kNoMemory;
    default: return OpenStatus::kUnreadable;
  }
}

}  // namespace

OpenStatus FileInput::Open(const std::string &path, std::unique_ptr<FileInput> *out) {
  out->reset();
  // O_NONBLOCK: opening a FIFO with no writer returns at once instead of
  // waiting for one; the descriptor is then checked before anything is read.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return StatusFromErrno(errno);
  std::unique_ptr<FileInput> input(new FileInput(fd));
  struct stat info;
  if (fstat(fd, &info) != 0) return StatusFromErrno(errno);
  if (S_ISDIR(info.st_mode)) return OpenStatus::kAccessDenied;
  if (!S_ISREG(info.st_mode)) return OpenStatus::kNotRegularFile;

  auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
  if (buffer == nullptr) return OpenStatus::kNoMemory;
  input->io_ = avio_alloc_context(buffer, kBufferSize, 0, input.get(), &FileInput::Read,
                                  nullptr, &FileInput::Seek);
  if (input->io_ == nullptr) {
    av_free(buffer);
    return OpenStatus::kNoMemory;
  }
  *out = std::move(input);
  return OpenStatus::kOk;
}

FileInput::~FileInput() {
  if (io_ != nullptr) {
    av_freep(&io_->buffer);  // FFmpeg may have replaced the one given
    avio_context_free(&io_);
  }
  close(fd_);
}

bool FileInput::Attach(AVFormatContext *format) {
  // A list that names no protocol: a format context made from this one copies
  // it, and opens nothing even when it does not copy the opener.
  av_freep(&format->protocol_whitelist);
  format->protocol_whitelist = av_strdup("");
  if (format->protocol_whitelist == nullptr) return false;
  format->pb = io_;
  format->opaque = this;
  format->io_open = &FileInput::RefuseOpen;
  return true;
}

int FileInput::RefuseOpen(AVFormatContext *format, AVIOContext **io, const char *, int,
                          AVDictionary **) {
  *io = nullptr;
  // Ours, or a context FFmpeg made inside ours that copied the opener alone.
  if (auto *input = static_cast<FileInput *>(format->opaque)) input->refused_ = true;
  return AVERROR(EPERM);
}

int FileInput::Read(void *opaque, uint8_t *buffer, int size) {
  const int fd = static_cast<FileInput *>(opaque)->fd_;
  for (;;) {
    const ssize_t got = read(fd, buffer, static_cast<size_t>(size));
    if (got > 0) return static_cast<int>(got);
    if (got == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

int64_t FileInput::Seek(void *opaque, int64_t offset, int whence) {
  const int fd = static_cast<FileInput *>(opaque)->fd_;
  if (whence == AVSEEK_SIZE) {
    struct stat info;
    return fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
  }
  const off_t position = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return position < 0 ? AVERROR(errno) : static_cast<int64_t>(position);
}

}  // namespace mediagraph
