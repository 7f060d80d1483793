#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace vendrake::testing {

// How long a check of another thread's or process's work may wait for it: a
// check that does not hold by then has failed.
inline constexpr auto kPatience = std::chrono::seconds(20);

// Whether `condition` comes to hold within kPatience, asked every 10 ms.
inline bool Eventually(const std::function<bool()>& condition) {
  const auto give_up = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace vendrake::testing
