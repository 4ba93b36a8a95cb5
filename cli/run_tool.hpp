// One run of the tool: read the table, open the input, check the output and
// the request before any cell is read, stream the map from the input to a
// temporary output and move it into place. main() parses the command line
// and calls this; a program or a test can call it as well.
#pragma once

#include "tool_options.hpp"

#include <cpl_progress.h>

namespace cli {

// Throws tool_error on any failure. progress(done, nullptr, progress_data)
// is told the share of the run done, 0..1, and is asked on the calling
// thread between strips and every few milliseconds in long passes; once it
// returns FALSE the run removes what it wrote and throws rw::interrupted.
void run_tool(const tool_options& o, GDALProgressFunc progress = GDALDummyProgress, void* progress_data = nullptr);

} // namespace cli
