// Receives what the tool sends to the system log: binds its own /dev/log (the test runs it in a private
// mount namespace with an empty /dev), logs argv[1] through the system log and prints the datagram.
#include "Platform/SystemLog.h"

#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/dev/log");
    if (argc != 2 || fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("bind /dev/log");
        return 3;
    }
    vt_systemLog(QString::fromUtf8(argv[1]));
    char datagram[4096];
    const ssize_t n = recv(fd, datagram, sizeof datagram, MSG_DONTWAIT);
    if (n <= 0) {
        std::perror("recv");
        return 4;
    }
    std::fwrite(datagram, 1, static_cast<size_t>(n), stdout);
    return 0;
}
