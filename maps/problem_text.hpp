// The core's problems in words, once for every front end. A front end says
// how it names its arguments, its classes and its cells; the facts, the
// limits and the sentence come from here, so a rule or a limit is never
// pasted into a front end's message.
//
//   rw::problem_naming octave{"the class table (argument 1)", "the window (argument 2)",
//                             "the label raster (argument 3)", "probesPerCell (argument 4)",
//                             "min_valid", 1, true};
//   octave.table_in_passing = "the class table";
//   error(rw::problem_text(*problem, request, octave));
#pragma once

#include "class_codes.hpp"
#include "raster_maps.hpp"

#include <span>
#include <string>
#include <string_view>

namespace rw {

// What a sentence about a class value the map cannot use says besides the
// fact ("table holds NaN for class 2").
enum class problem_detail {
    remedy,         // what to do: ", which Sulmet cannot compute with; give a finite value"
    reason,         // why the map refuses it: "; Sulmet computes with every class value, so ..."
    rule_and_reason // the rule broken, then why: ", which is not finite; Sulmet computes ..."
};

// What follows a class's number in a sentence.
enum class class_aside {
    none,       // "class 2"
    label,      // "class 2 (label 2)", for hosts that pass labels 1..K
    table_entry // "class 2 (table[1])": the entry of table holding its value, from first_index
};

struct problem_naming {
    std::string_view table = "table";
    std::string_view window = "window";
    std::string_view labels = "labels"; // empty: cells are named without their raster
    std::string_view probes_per_cell = "probes_per_cell";
    std::string_view min_valid = "min_valid";
    index_t first_index = 0; // 1 for hosts that count rows and columns from 1
    bool sentence = false;   // a capital first letter and a full stop
    // The table where it is only referred to ("the classes of the class
    // table"); empty: the same as table.
    std::string_view table_in_passing = {};
    // The class codes in class order, for front ends whose users give codes:
    // class k is then named "code <codes[k - 1]>". Empty: "class k".
    std::span<const class_code> codes = {};
    class_aside class_shown = class_aside::none;
    problem_detail detail = problem_detail::remedy;
    // How the front end marks a code as nodata, followed by the code
    // ("--exclude " gives "--exclude 77"); empty: no such advice.
    std::string_view exclude = {};
    std::string_view power = "^"; // how the front end writes 2 to the 63rd: "2^63", "2**63"
};

// One sentence for a problem that check_request or validate found in q.
std::string problem_text(const request_problem& p, const map_request& q, const problem_naming& n);

// The same for a label_out_of_range problem found in labels that the front
// end narrowed to the core's int32 (a value beyond int32 becomes an invalid
// label): label is the value its own raster holds at p's cell.
std::string problem_text(request_problem p, const map_request& q, const problem_naming& n, cell_code label);

// One sentence for a problem of a code table or of a raster's codes.
std::string problem_text(const code_problem& p, const problem_naming& n);

// The problem kind as a short identifier ("label_out_of_range", ...).
std::string_view problem_name(problem_kind kind);
std::string_view problem_name(code_problem_kind kind);

// The argument at fault and how, as hosts with error identifiers name it
// after their own prefix: "badTable", "emptyWindow", "badWindow",
// "labelOutOfRange", "badProbesPerCell", "badMinValid".
std::string_view problem_identifier(problem_kind kind);

} // namespace rw
