#pragma once

namespace tessera {

// The auto-sync intervals offered wherever the user picks one.
struct SyncChoice
{
    const char *label;
    int minutes;
};

inline constexpr SyncChoice syncChoices[] = {
    {"Manually", 0},    {"Every 15 minutes", 15}, {"Every 30 minutes", 30},
    {"Every hour", 60}, {"Every 6 hours", 360},   {"Every day", 1440},
};

} // namespace tessera
