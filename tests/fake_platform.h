// A recording stand-in for the host, linked into the unit tests in place of
// the real platform layer. Folders live in a set; every call is logged.
#pragma once

#include "../src/platform/platform.h"

#include <set>
#include <string>
#include <vector>

namespace fake {

// Test paths are written with "/" and turned into the host's separator.
platform::Text T(const std::string& path);

struct World {
    platform::Text argumentText;
    // Existing folders, without trailing separator; the empty parent of a
    // first-level folder always exists.
    std::set<platform::Text> folders;
    std::set<platform::Text> unlistable; // presence test fails outright
    std::set<platform::Text> refused;    // creation always fails
    std::vector<std::string> log;        // "present X", "create X", "copy S>T", "end"
};

World& world();
void Reset();

} // namespace fake
