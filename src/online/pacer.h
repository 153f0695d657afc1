// Keeps a client within a web service's request rate: at most `count`
// requests in any `window`, however many lookups a batch makes.
#pragma once

#include <chrono>
#include <deque>

#include "online/socket.h"

namespace velotag {

class RequestPacer {
 public:
  using Clock = std::chrono::steady_clock;

  RequestPacer(int count, Clock::duration window) : count_(count < 1 ? 1 : count), window_(window) {}

  // Waits until one more request may go out and counts it. The pump runs
  // while waiting, so a stop is seen; false when keepGoing turned false.
  bool Wait(const PumpFn& pump, const bool& keepGoing);

 private:
  int count_;
  Clock::duration window_;
  std::deque<Clock::time_point> sent_;
};

}  // namespace velotag
