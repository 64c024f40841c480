// Why a movie file could not be opened.
#pragma once

namespace mediagraph {

enum class OpenStatus {
  kOk,
  kNotFound,        // no such file or directory
  kAccessDenied,    // exists but may not be read, or is a directory
  kNameTooLong,     // the path or one of its names is longer than the system takes
  kNotRegularFile,  // a FIFO, socket or device: never waited on
  kUnreadable,      // an I/O error other than the above
  kUnknownFormat,   // not a container FFmpeg knows, or no stream in it
  kNoVideo,         // a container without a video stream FFmpeg can decode
  kNamesOtherFiles, // a playlist, reference or image sequence: never followed
  kNoMemory,
};

}  // namespace mediagraph
