// Apart from the HTTP clients: the kernel's tcp_info (with its byte counters) and the C
// library's older copy of it cannot be declared in one file.

#include "net/TcpCounters.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace dm {

std::uint64_t TcpBytesReceived(int fd) {
    struct tcp_info info {};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return 0;
    return info.tcpi_bytes_received;
}

} // namespace dm
