// Ctrl-C in the host, for calls that run long. The documented MEX API has no
// call for it, so each host's own flag is read, chosen when the plug-in is
// compiled: MATLAB's mex defines MATLAB_MEX_FILE, Octave's does not.
//
// MATLAB: libut's utIsInterruptPending() says whether Ctrl-C was pressed
// (linked with -lut). A stopped map then ends with the plug-in's
// ":interrupted" error, which returns to the prompt.
//
// Octave: its MEX interface has no counterpart, but liboctinterp exports,
// from its header quit.h, the state that Octave's own built-in loops poll:
// its SIGINT handler raises octave_interrupt_state above 0, and
// octave_quit() turns a pending interrupt into Octave's interrupt exception,
// which unwinds to the prompt.
//
// Both are plain reads and one call, safe from the thread that the host
// called the plug-in on, the only one that uses them here.
#pragma once

#ifdef MATLAB_MEX_FILE
extern "C" bool utIsInterruptPending(void);
#else
#include "quit.h"
#endif

namespace gw {

#ifdef MATLAB_MEX_FILE

// Whether the user pressed Ctrl-C during this call.
inline bool host_interrupt_pending() { return utIsInterruptPending(); }

// MATLAB has no call that raises its own interrupt; the plug-in's error does.
inline void yield_to_host_interrupt() {}

#else

// Whether the user pressed Ctrl-C since Octave last handled an interrupt.
inline bool host_interrupt_pending() { return octave_interrupt_state > 0; }

// Hands a pending interrupt to Octave, which does not return from here; with
// none pending it returns.
inline void yield_to_host_interrupt() { octave_quit(); }

#endif

} // namespace gw
