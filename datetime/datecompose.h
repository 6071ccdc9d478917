#pragma once

#include "datetime/datevalue.h"

namespace datevalue::detail {

// The one formula for every value, so that equal moments compare equal.
DateValue compose(qint64 day, int seconds);

} // namespace datevalue::detail
