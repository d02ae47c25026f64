#pragma once

#include <QString>

namespace trv {

// Device path for COM n: $ZEKO_COM<n> when set, otherwise the platform's own name.
QString devicePathForPort(int portNo);

} // namespace trv
