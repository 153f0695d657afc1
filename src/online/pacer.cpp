#include "online/pacer.h"

#include <algorithm>
#include <thread>

namespace velotag {

bool RequestPacer::Wait(const PumpFn& pump, const bool& keepGoing) {
  constexpr auto kStep = std::chrono::milliseconds(20);
  for (;;) {
    if (!keepGoing) return false;
    Clock::time_point now = Clock::now();
    while (!sent_.empty() && now - sent_.front() >= window_) sent_.pop_front();
    if (static_cast<int>(sent_.size()) < count_) {
      sent_.push_back(now);
      return true;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(kStep, window_ - (now - sent_.front())));
    if (pump) pump();
  }
}

}  // namespace velotag
