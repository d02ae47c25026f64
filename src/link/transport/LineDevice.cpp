#include "link/transport/LineDevice.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace trv {

bool LineDevice::readyToRead(qintptr descriptor) {
#ifdef Q_OS_UNIX
    pollfd fd{int(descriptor), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
#else
    Q_UNUSED(descriptor);
    return true;
#endif
}

} // namespace trv
