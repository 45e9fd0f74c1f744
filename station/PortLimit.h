// How many ports one run takes at most: each port has a thread of its own
// (a loop, an update, a channel with its closer), and a bench of more ports
// than a person can tend is a settings file gone wrong.
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t kMaxPorts = 64;

// "a bench takes at most 64 ports; 1000 were given", for a usage error or a box.
inline std::string TooManyPortsText(std::size_t given) {
  return "a bench takes at most " + std::to_string(kMaxPorts) + " ports; " + std::to_string(given) +
         " were given";
}
