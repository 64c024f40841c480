// A game loads this library at its start and plays its first movie later: the
// sound device, the slowest part of a first load, is open by then, and the
// decoders' one-time set-up is done. Only in the library itself, not in what
// the tests link.
#include "mediagraph/audio/audio_device.h"
#include "mediagraph/decode/stream_decoder.h"

namespace {

const bool openedAhead = (mediagraph::AudioDevice::OpenAhead(), true);
const bool warmedAhead = (mediagraph::StreamDecoder::WarmUpAhead(), true);

}  // namespace
