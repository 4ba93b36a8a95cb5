#include "class_table_csv.hpp"

#include "tool_error.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>

namespace cli {
namespace {

std::string trimmed(const std::string& s)
{
    const auto a = s.find_first_not_of(" \t\r\"'");
    if (a == std::string::npos) return {};
    const auto b = s.find_last_not_of(" \t\r\"'");
    return s.substr(a, b - a + 1);
}

bool is_number(const std::string& field)
{
    char* end = nullptr;
    std::strtod(field.c_str(), &end);
    return !field.empty() && *end == '\0';
}

rw::class_code code_of(const std::string& field, const std::string& where)
{
    const char* first = field.data();
    const char* const last = first + field.size();
    if (field.size() > 1 && field[0] == '+' && field[1] != '-') ++first;
    rw::class_code code = 0;
    const auto [end, error] = std::from_chars(first, last, code);
    if (error == std::errc() && end == last) return code;
    if (error == std::errc::result_out_of_range && end == last)
        throw tool_error(where + ": '" + field + "' is beyond the range of codes, " +
                         std::to_string(std::numeric_limits<rw::class_code>::min()) + ".." +
                         std::to_string(std::numeric_limits<rw::class_code>::max()));
    throw tool_error(where + ": '" + field + "' is not a whole number");
}

double value_of(const std::string& field, const std::string& where)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(field.c_str(), &end);
    if (field.empty() || *end != '\0') throw tool_error(where + ": '" + field + "' is not a number");
    // strtod sets ERANGE on underflow too (1e-400): a number next to 0,
    // kept as its nearest double, 0 or subnormal. Overflow has no double.
    if (errno == ERANGE && std::isinf(v))
        throw tool_error(where + ": '" + field + "' is beyond the range of doubles");
    return v;
}

rw::code_row row_of(const std::string& text, const std::string& where)
{
    const auto comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos)
        throw tool_error(where + ": expected code,value (e.g. 21,0.25); got '" + text + "'");
    return {code_of(trimmed(text.substr(0, comma)), where + ", field 1"),
            value_of(trimmed(text.substr(comma + 1)), where + ", field 2")};
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
        // Spreadsheets often save UTF-8 CSV with a byte-order mark.
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        const std::string text = trimmed(line);
        if (text.empty() || text[0] == '#') continue;
        // A header's first field is a name; a row whose first field is a
        // number is data however malformed, so a typo is never mistaken for
        // a header.
        if (first && !is_number(trimmed(text.substr(0, text.find(','))))) {
            first = false;
            continue;
        }
        first = false;
        rows.push_back(row_of(text, path + " line " + std::to_string(number)));
    }
    if (in.bad()) throw tool_error("cannot read the table " + path);
    if (rows.empty()) throw tool_error("the table " + path + " has no code,value row");
    return rows;
}

} // namespace cli
