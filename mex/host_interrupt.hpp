// Ctrl-C in Octave, for calls that run long. Octave's MEX interface has no
// call for it (MATLAB's undocumented utIsInterruptPending has no Octave
// counterpart), but liboctinterp exports, from its header quit.h, the state
// that Octave's own built-in loops poll: its SIGINT handler raises
// octave_interrupt_state above 0, and octave_quit() turns a pending
// interrupt into Octave's interrupt exception, which unwinds to the prompt.
// Both are plain reads and one call, safe from the thread that Octave called
// the plug-in on, the only one that uses them here.
#pragma once

#include "quit.h"

namespace gw {

// Whether the user pressed Ctrl-C since Octave last handled an interrupt.
inline bool host_interrupt_pending() { return octave_interrupt_state > 0; }

// Hands a pending interrupt to Octave, which does not return from here; with
// none pending it returns.
inline void yield_to_host_interrupt() { octave_quit(); }

} // namespace gw
