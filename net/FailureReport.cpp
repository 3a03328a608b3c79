#include "net/FailureReport.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace {
// Set at start on the GUI thread, read on it alone: no lock needed.
net::FailureReport g_report;
}  // namespace

void net::SetFailureReport(FailureReport report) { g_report = std::move(report); }

void net::ReportCurrentFailure() noexcept {
    try {
        if (g_report) {
            FailureReport report = g_report;
            report();
            return;
        }
        throw;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessaly: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tessaly: unknown exception\n");
    }
}
