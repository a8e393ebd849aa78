#pragma once

namespace orvik::platform {

// Names the system time zone explicitly (TZ=":/etc/localtime") when TZ is
// unset. Without it, the C library checks /etc/localtime on disk, under a
// process-wide lock, for every local-time conversion: a search that dates
// thousands of sheets on several threads spends its time waiting there. The
// zone is the same; a change of the system's zone shows after a restart.
// Call before any thread starts.
void pinSystemTimeZone();

} // namespace orvik::platform
