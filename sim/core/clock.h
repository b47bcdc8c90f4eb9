// Simulated time of one chip, in states of its system clock φ, and the deadlines of its
// on-chip modules.
//
// Modules never tick. They stamp the time of each change, derive what a register reads from
// those stamps when it is read, and ask to be called back at their next deadline (a frame that
// completes, a watchdog that overflows). The CPU runs instructions until the earliest deadline,
// then lets the due events run; nothing depends on the host's wall-clock speed.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <utility>

namespace h8sim {

using Addr = std::uint32_t;
using States = std::uint64_t;

inline constexpr States kNever = std::numeric_limits<States>::max();

class Clock {
 public:
  using EventId = std::uint64_t;

  States now() const { return now_; }

  // Charged by the bus for every access and by the CPU for its internal states, as an
  // instruction runs; a module that reads now() in a register callback sees the time of the
  // access itself.
  void advance(States states) { now_ += states; }

  // Runs `fn` once the time has reached `when`, between two instructions (at once on the next
  // run_due() if `when` has passed). Returns an id for cancel().
  EventId schedule(States when, std::function<void()> fn) {
    EventId id = next_id_++;
    events_.emplace(std::make_pair(when, id), std::move(fn));
    return id;
  }

  // Drops a scheduled event; an id that has run or was cancelled is ignored.
  void cancel(EventId id) {
    for (auto it = events_.begin(); it != events_.end(); ++it) {
      if (it->first.second == id) {
        events_.erase(it);
        return;
      }
    }
  }

  // The time of the earliest scheduled event, or kNever.
  States next_deadline() const { return events_.empty() ? kNever : events_.begin()->first.first; }

  // Runs, in time order, every event whose time has come. An event may schedule others.
  void run_due() {
    while (!events_.empty() && events_.begin()->first.first <= now_) {
      auto node = events_.extract(events_.begin());
      node.mapped()();
    }
  }

  // Asks the running CPU loop to end after the current instruction (a module's fatal
  // condition, the host hanging up). The first reason given is kept.
  void request_stop(std::string reason) {
    if (!stop_requested_) {
      stop_requested_ = true;
      stop_reason_ = std::move(reason);
    }
  }
  bool stop_requested() const { return stop_requested_; }
  const std::string& stop_reason() const { return stop_reason_; }
  void clear_stop() {
    stop_requested_ = false;
    stop_reason_.clear();
  }

 private:
  States now_ = 0;
  EventId next_id_ = 1;
  std::map<std::pair<States, EventId>, std::function<void()>> events_;
  bool stop_requested_ = false;
  std::string stop_reason_;
};

}  // namespace h8sim
