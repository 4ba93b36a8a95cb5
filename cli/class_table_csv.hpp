// Reads a class table file: CSV rows of code,value, the code a whole number
// (the raster's own value) and the value a real number. A first line that is
// not such a row is a header; blank lines and lines starting with # are
// skipped.
#pragma once

#include "maps/class_codes.hpp"

#include <string>
#include <vector>

namespace cli {

// Throws tool_error naming the file and line of anything it cannot read.
std::vector<rw::code_row> read_class_table(const std::string& path);

} // namespace cli
