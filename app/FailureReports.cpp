#include "app/FailureReports.h"

#include "net/FailureReport.h"
#include "platform/Guard.h"

void InstallFailureReports() { net::SetFailureReport(platform::ShowCurrentException); }
