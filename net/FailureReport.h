#pragma once
// Where an event handler's exception goes when nothing up the stack can take it: a socket
// notification or a time-out ran the handler from the event loop. The program shows it in
// its error box (it sets that up at start); the socket layer itself shows nothing.
#include <functional>

namespace net {

// Called inside a catch block, with the exception in flight.
using FailureReport = std::function<void()>;

// Replaces the report for every later failure; an empty one restores the default, which
// writes the message to standard error.
void SetFailureReport(FailureReport report);

// Reports the exception in flight (call inside a catch block). Never throws.
void ReportCurrentFailure() noexcept;

}  // namespace net
