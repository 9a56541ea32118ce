// The emulated objects count their references in a shared ledger.
#pragma once

#include "platform/com_object.h"

namespace torvane::emulator {

using torvane::ComObject;
using torvane::RefLedger;

}  // namespace torvane::emulator
