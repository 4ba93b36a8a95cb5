// The core's problems in words, once for every front end. A front end says
// how it names its arguments and counts its cells; the facts and the
// sentence come from here, so a limit or a rule is never pasted into a
// front end's message.
//
//   rw::problem_naming octave{"the class table (argument 1)", "the window (argument 2)",
//                             "the label raster (argument 3)", "probesPerCell (argument 4)",
//                             "min_valid", 1, true};
//   error(rw::problem_text(*problem, request, octave));
#pragma once

#include "class_codes.hpp"
#include "raster_maps.hpp"

#include <string>
#include <string_view>

namespace rw {

struct problem_naming {
    std::string_view table = "table";
    std::string_view window = "window";
    std::string_view labels = "labels";
    std::string_view probes_per_cell = "probes_per_cell";
    std::string_view min_valid = "min_valid";
    index_t first_index = 0; // 1 for hosts that count rows and columns from 1
    bool sentence = false;   // a capital first letter and a full stop
};

// One sentence for a problem that check_request or validate found in q.
std::string problem_text(const request_problem& p, const map_request& q, const problem_naming& n);

// One sentence for a problem of a code table or of a raster's codes.
std::string problem_text(const code_problem& p, const problem_naming& n);

// The problem kind as a short identifier ("label_out_of_range", ...).
std::string_view problem_name(problem_kind kind);
std::string_view problem_name(code_problem_kind kind);

} // namespace rw
