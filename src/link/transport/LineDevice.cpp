#include "link/transport/LineDevice.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#elif defined(Q_OS_WIN)
#include <winsock2.h>
#endif

namespace trv {

bool LineDevice::readyToRead(qintptr descriptor) {
#ifdef Q_OS_UNIX
    pollfd fd{int(descriptor), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
#elif defined(Q_OS_WIN)
    // Only sockets are asked here: the serial line has its own device on Windows.
    WSAPOLLFD fd{SOCKET(descriptor), POLLRDNORM, 0};
    return ::WSAPoll(&fd, 1, 0) > 0;
#else
    Q_UNUSED(descriptor);
    return true;
#endif
}

} // namespace trv
