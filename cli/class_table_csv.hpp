// Reads a class table file: CSV rows of code,value, the code a whole number
// of 64 bits (the raster's own value) and the value a double. A first row
// whose first field is not a number is a header; blank lines, lines starting
// with # and a UTF-8 byte-order mark are skipped.
#pragma once

#include "maps/class_codes.hpp"

#include <string>
#include <vector>

namespace cli {

// Throws tool_error naming the file and line of anything it cannot read.
std::vector<rw::code_row> read_class_table(const std::string& path);

} // namespace cli
