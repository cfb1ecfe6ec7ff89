/*
 * What a machine offers its scripts. A host that runs scripts it does not
 * trust switches groups off (MoxVirtualMachine::setCapabilities,
 * Mox_SetCapabilities); every machine starts with MOX_CAP_ALL. A library
 * function of a group that is off fails with a run-time error naming the
 * group; a directive that is off is a compile error. Console output, the
 * user arguments, compile() of text and the pure functions belong to no
 * group and always stay on.
 *
 * C99 and C++ alike: the flat interface includes it too.
 */
#ifndef MOX_CAPABILITIES_H
#define MOX_CAPABILITIES_H

/* Files (fopen and every read of a stream) and console input. */
#define MOX_CAP_FILES 0x01u
/* Reading the environment store and the process environment (getenv). */
#define MOX_CAP_ENV_READ 0x02u
/* Writing the environment store (setenv). */
#define MOX_CAP_ENV_WRITE 0x04u
/* Calls into native libraries: LoadLibrary, GetProcAddress, CallLibFunc,
 * FreeLibrary, addr. */
#define MOX_CAP_NATIVE_CALLS 0x08u
/* Native modules: the import directive. */
#define MOX_CAP_NATIVE_MODULES 0x10u
/* Precompiled modules: the use directive and loadmodule. */
#define MOX_CAP_MODULES 0x20u
/* Source includes: the include directive. */
#define MOX_CAP_INCLUDE 0x40u

#define MOX_CAP_ALL 0x7Fu
#define MOX_CAP_NONE 0x00u

#endif
