#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "session/startup.h"

namespace vdx {

void prepareProcess() {
    // A standard stream the caller closed would lend its number to the next
    // file opened (the stick's port, say), and what the program writes to
    // the stream would go there. /dev/null holds each such number, opened
    // the other way round, so that writing standard output or error (or
    // reading standard input) still fails as on a closed stream (EBADF) and
    // is told as such.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
}

void binaryStandardOutput() {}

}  // namespace vdx
