// The loop itself: sleeps until each tick is due on the steady clock, so a
// slow tick does not shift the ones after it.
#pragma once

#include <thread>

namespace tarnwick::cli {

template <typename AfterTick>
void RunLoop(const std::vector<PortRun*>& runs, const std::atomic<bool>& stop, std::chrono::milliseconds period,
             AfterTick&& afterTick) {
  auto next = std::chrono::steady_clock::now();
  for (PortRun* run : runs) run->Start(next);
  for (;;) {
    bool any = false;
    for (const PortRun* run : runs) any = any || run->active();
    if (!any) return;
    next += period;
    const auto now = std::chrono::steady_clock::now();
    // Far behind (the machine was suspended): start counting again from now.
    if (now > next + 10 * period) next = now;
    std::this_thread::sleep_until(next);
    if (stop.load()) {
      for (PortRun* run : runs) run->Interrupt(std::chrono::steady_clock::now());
      afterTick();
      return;
    }
    const auto tick = std::chrono::steady_clock::now();
    for (PortRun* run : runs) run->Tick(tick);
    afterTick();
  }
}

}  // namespace tarnwick::cli
