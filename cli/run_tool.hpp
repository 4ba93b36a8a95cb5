// One run of the tool: read the table, open the input, check the output and
// the request before any cell is read, stream the map from the input to a
// temporary output and move it into place.
#pragma once

#include "tool_options.hpp"

#include <functional>

namespace cli {

// Throws tool_error on any failure, and rw::interrupted once `interrupted`
// answers true (it is asked between strips), after removing what it wrote.
void run_tool(const tool_options& o, const std::function<bool()>& interrupted = nullptr);

} // namespace cli
