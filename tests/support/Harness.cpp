#include "Harness.h"

#include <QLabel>

namespace trv::testing {

QString Harness::label(const char* name) const { return child<QLabel>(name)->text(); }

bool Harness::visible(const char* name) const { return !child<QWidget>(name)->isHidden(); }

} // namespace trv::testing
