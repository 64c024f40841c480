#include "mediagraph/source/rows_forecast.h"

#include <algorithm>

namespace mediagraph {

bool RowsForecast::Soon(int done, int height, Clock::time_point now, REFERENCE_TIME within) {
  if (from_ < 0) {
    since_ = now;
    from_ = done;
    return false;
  }
  const int paced = done - from_;
  if (height <= 0 || paced <= 0 || paced * 16 < height) return false;  // too little to go by
  judged_ = true;
  const auto left = (now - since_) * (height - std::min(done, height)) / paced;
  const REFERENCE_TIME units =
      std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() / 100;
  return 4 * units <= within;
}

}  // namespace mediagraph
