#include "class_table_csv.hpp"

#include "tool_error.hpp"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>

namespace cli {
namespace {

std::string trimmed(const std::string& s)
{
    const auto a = s.find_first_not_of(" \t\r\"'");
    if (a == std::string::npos) return {};
    const auto b = s.find_last_not_of(" \t\r\"'");
    return s.substr(a, b - a + 1);
}

std::optional<rw::code_row> row_of(const std::string& line)
{
    const auto comma = line.find(',');
    if (comma == std::string::npos) return std::nullopt;
    const std::string code = trimmed(line.substr(0, comma)), value = trimmed(line.substr(comma + 1));
    if (code.empty() || value.empty() || value.find(',') != std::string::npos) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long c = std::strtoll(code.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE) return std::nullopt;
    const double v = std::strtod(value.c_str(), &end);
    if (*end != '\0') return std::nullopt;
    return rw::code_row{c, v};
}

} // namespace

std::vector<rw::code_row> read_class_table(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw tool_error("cannot open the table " + path);
    std::vector<rw::code_row> rows;
    std::string line;
    bool first = true;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = trimmed(line);
        if (text.empty() || text[0] == '#') continue;
        const auto row = row_of(text);
        if (!row && first) {
            first = false;
            continue; // a header
        }
        first = false;
        if (!row)
            throw tool_error(path + " line " + std::to_string(number) +
                             ": expected code,value (e.g. 21,0.25); got '" + text + "'");
        rows.push_back(*row);
    }
    if (in.bad()) throw tool_error("cannot read the table " + path);
    if (rows.empty()) throw tool_error("the table " + path + " has no code,value row");
    return rows;
}

} // namespace cli
