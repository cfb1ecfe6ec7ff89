// Texts of the capability groups a machine may switch off.
#include "stdlib/MoxStdCapabilities.h"

#include "vm/MoxCapabilities.h"

const MoxChar* moxDisabledText(uint32_t caps, bool console) {
  if (caps & MOX_CAP_FILES) return console ? u"console input is disabled" : u"file access is disabled";
  if (caps & MOX_CAP_ENV_READ) return u"reading the environment is disabled";
  if (caps & MOX_CAP_ENV_WRITE) return u"writing the environment is disabled";
  if (caps & MOX_CAP_NATIVE_CALLS) return u"native library calls are disabled";
  if (caps & MOX_CAP_NATIVE_MODULES) return u"native modules are disabled";
  if (caps & MOX_CAP_MODULES) return u"precompiled modules are disabled";
  if (caps & MOX_CAP_INCLUDE) return u"source includes are disabled";
  return u"";
}
