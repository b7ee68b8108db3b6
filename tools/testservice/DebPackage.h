#pragma once

// A small Debian package that dpkg accepts, made in memory: what the service offers as the
// agent's update when no real package is given.

#include <string>

namespace dm {

// The package "invara-desktop-manager-testupdate" of the version given; one documentation file
// pads it to about minimumSize bytes.
std::string MakeTestPackage(const std::string& version, long long minimumSize);

} // namespace dm
