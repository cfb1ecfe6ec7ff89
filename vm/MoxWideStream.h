// UTF-8 text on byte streams for the wide character functions ("getwc",
// "putwc", "fgetws", "fputws", "gets").
//
// The wide functions work over fgetc/fputc rather than the C library's wide
// streams, so a script may mix byte and wide calls on one stream. Both
// directions keep a little state per stream:
// - reading: a character beyond U+FFFF arrives as two successive units, and
//   an ill-formed sequence as one unit per byte; units decoded but not yet
//   handed out wait in the stream's queue.
// - writing: a high surrogate waits until the next unit shows whether it
//   starts a pair, so that a pair written in two calls still becomes one
//   4-byte sequence. Anything else that writes to the stream, or closes it,
//   flushes the waiting unit first (moxWideFlush), and so does process exit.
// The state is the process's, like the streams themselves: machines on
// other threads may use the same stream, and each call takes its turn on the
// stream as a whole.
#ifndef MOX_WIDE_STREAM_H
#define MOX_WIDE_STREAM_H

#include <cstdio>

#include "core/MoxConfig.h"

// The next UTF-16 unit of the stream, or -1 at end of file or on error.
MOX_API int moxWideGet(FILE* f);
// Writes one UTF-16 unit; returns the unit, or -1 when the stream fails.
MOX_API int moxWidePut(MoxChar unit, FILE* f);
// Writes len units; false when the stream fails.
MOX_API bool moxWideWrite(const MoxChar* units, size_t len, FILE* f);
// Writes a high surrogate still waiting for its partner, in its 3-byte form.
MOX_API void moxWideFlush(FILE* f);
// Flushes the stream's waiting unit and forgets its state; called before the
// stream is closed, since a later stream may get the same address.
MOX_API void moxWideForget(FILE* f);

#endif
