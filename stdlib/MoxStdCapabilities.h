// The texts that name a group of a machine's capabilities that is off
// (vm/MoxCapabilities.h). The library's functions report them as run-time
// errors, the compiler's directives as compile errors.
#ifndef MOX_STD_CAPABILITIES_H
#define MOX_STD_CAPABILITIES_H

#include <cstdint>

#include "core/MoxConfig.h"

// The text for the first group of caps, in the order of the flags. For
// MOX_CAP_FILES, console picks the text of a read of standard input.
const MoxChar* moxDisabledText(uint32_t caps, bool console = false);

#endif
