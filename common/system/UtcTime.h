// The time of day as the reports and status lines show it.
#pragma once

#include <string>

/// Now, in UTC, as "2026-12-10T04:09:02Z".
std::string UtcNow();
