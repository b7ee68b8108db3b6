#pragma once

#include <cstdint>

namespace dm {

// Payload bytes the kernel has received on a connected TCP socket; 0 when it cannot tell.
std::uint64_t TcpBytesReceived(int fd);

} // namespace dm
