// The time of day as the reports, status lines and the fleet record show it.
#pragma once

#include <cstdint>
#include <string>

/// Now, in UTC, as "2026-12-10T04:09:02Z".
std::string UtcNow();

/// Now, as milliseconds since 1970-01-01 00:00 UTC.
int64_t UtcNowMs();

/// `ms` (milliseconds since 1970-01-01 UTC) as "2026-12-10T04:09:02.125Z".
std::string UtcMsText(int64_t ms);
/// The same, appended to `to`.
void AppendUtcMsText(std::string& to, int64_t ms);
