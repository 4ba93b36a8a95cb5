// The one kind of failure the tool reports: a one-line message for the user,
// printed as "raster-maps: error: <text>" with a non-zero exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

class tool_error : public std::runtime_error {
public:
    explicit tool_error(const std::string& text) : std::runtime_error(text) {}
};

// A wrong command line: the same, but the exit status is 2 and the message
// points at --help.
class usage_error : public tool_error {
public:
    using tool_error::tool_error;
};

} // namespace cli
