// The catalogue of maps and the wording of the core's problems.
#include "maps/catalogue.hpp"
#include "maps/problem_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace rw {
namespace {

TEST(Catalogue, EveryMapOnceByKindAndName)
{
    std::set<std::string_view> names;
    for (const map_entry& e : map_catalogue()) {
        EXPECT_EQ(&entry_of(e.kind), &e);
        EXPECT_EQ(find_map(e.name), &e);
        EXPECT_FALSE(e.summary.empty());
        names.insert(e.name);
    }
    EXPECT_EQ(names, (std::set<std::string_view>{"varnok", "marnisa", "sulmet", "ombrel", "dravix"}));
    EXPECT_EQ(find_map("Varnok"), nullptr);
    EXPECT_TRUE(entry_of(map_kind::marnisa).random && entry_of(map_kind::dravix).random);
    EXPECT_FALSE(entry_of(map_kind::sulmet).random);
    EXPECT_TRUE(entry_of(map_kind::dravix).takes_probes);
    EXPECT_FALSE(entry_of(map_kind::marnisa).takes_probes);
}

// Front ends default to the first arithmetic and list the names in order.
TEST(Catalogue, ArithmeticsByKindAndName)
{
    ASSERT_EQ(arithmetic_catalogue().size(), 2u);
    EXPECT_EQ(arithmetic_catalogue()[0].kind, arithmetic::exact);
    for (const arithmetic_entry& e : arithmetic_catalogue()) {
        EXPECT_EQ(&entry_of(e.kind), &e);
        EXPECT_EQ(find_arithmetic(e.name), &e);
        EXPECT_FALSE(e.summary.empty());
    }
    EXPECT_EQ(entry_of(arithmetic::plugin).name, "plugin");
    EXPECT_EQ(find_arithmetic("Exact"), nullptr);
    EXPECT_EQ(find_arithmetic(""), nullptr);
}

TEST(Catalogue, ClassValuesAndBlocksFollowTheMap)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    EXPECT_FALSE(usable_class_value(map_kind::varnok, nan));
    EXPECT_FALSE(usable_class_value(map_kind::ombrel, -inf));
    EXPECT_TRUE(usable_class_value(map_kind::marnisa, -inf));
    EXPECT_FALSE(usable_class_value(map_kind::marnisa, inf));
    EXPECT_TRUE(usable_class_value(map_kind::dravix, nan));
    // Ombrel scores column 10 while its window fits; the others need w + 21.
    const map_request ombrel{map_kind::ombrel, nullptr, 1, 5, 30};
    const map_request varnok{map_kind::varnok, nullptr, 1, 5, 30};
    EXPECT_EQ(scored_cells(ombrel, 40, 45).c1 - scored_cells(ombrel, 40, 45).c0, 1);
    EXPECT_TRUE(scored_cells(varnok, 40, 45).empty());
    EXPECT_TRUE(label_block(ombrel, 40, 20).empty());
    EXPECT_EQ(label_block(varnok, 40, 20).r1, 40);
}

TEST(ProblemText, PythonNamingCountsFromZero)
{
    const std::vector<double> table{0.5, std::nan(""), 1.0};
    map_request q{map_kind::sulmet, table.data(), 3, 0, 4};
    const problem_naming python;
    EXPECT_EQ(problem_text({problem_kind::empty_window}, q, python),
              "window is empty; it needs at least one row and one column");
    EXPECT_EQ(problem_text({problem_kind::non_finite_class_value, 2}, q, python),
              "table holds NaN for class 2, which Sulmet cannot compute with; give a finite value");
    EXPECT_EQ(problem_text({problem_kind::label_out_of_range, 7, 11, 39}, q, python),
              "label 7 at row 11, column 39 of labels is outside 1..3, the classes of table");
    EXPECT_EQ(problem_text({problem_kind::window_too_large, 3037000500}, q, python),
              "window holds 3037000500 cells; Sulmet scores windows of at most 3037000499 cells");
    q.map = map_kind::varnok;
    EXPECT_EQ(problem_text({problem_kind::window_too_large, 2147483648}, q, python),
              "window holds 2147483648 cells; with nodata cells every map takes windows of at most "
              "2147483647 cells");
    q.map = map_kind::dravix;
    EXPECT_EQ(problem_text({problem_kind::bad_probes_per_cell, -3}, q, python),
              "probes_per_cell must be 0 or more; it is -3");
    q.min_valid = 1.5;
    EXPECT_EQ(problem_text({problem_kind::bad_min_valid}, q, python),
              "min_valid must be a fraction 0..1 of the window; it is 1.5");
}

TEST(ProblemText, HostNamingCountsFromOneInSentences)
{
    const std::vector<double> table{std::numeric_limits<double>::infinity()};
    const map_request q{map_kind::marnisa, table.data(), 1, 3, 3};
    const problem_naming octave{"the class table (argument 1)", "the window (argument 2)",
                                "the label raster (argument 3)", "probesPerCell (argument 4)",
                                "min_valid", 1, true};
    EXPECT_EQ(problem_text({problem_kind::label_out_of_range, 7, 11, 39}, q, octave),
              "Label 7 at row 12, column 40 of the label raster (argument 3) is outside 1..1, the "
              "classes of the class table (argument 1).");
    EXPECT_EQ(problem_text({problem_kind::empty_table}, q, octave),
              "The class table (argument 1) is empty; it needs one value per class.");
    EXPECT_EQ(problem_text({problem_kind::non_finite_class_value, 1}, q, octave),
              "The class table (argument 1) holds Inf for class 1, which Marnisa cannot compute "
              "with; give a finite value.");
}

TEST(ProblemText, CodeProblemsNameTheCodeAndItsCell)
{
    const problem_naming gdal{"the table t.csv", "the window", "in.tif"};
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::duplicate_code, -5, 3}, gdal),
              "the table t.csv gives code -5 twice");
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::no_classes}, gdal),
              "the table t.csv has no class left once the nodata codes are taken out");
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::code_missing, 42, 0, 9}, gdal),
              "code 42 at row 0, column 9 of in.tif is neither in the table t.csv nor nodata");
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::code_missing,
                                        std::numeric_limits<std::uint64_t>::max() - 1, 2, 3},
                           gdal),
              "code 18446744073709551614 at row 2, column 3 of in.tif is not nodata and is above "
              "2^63 - 1, the largest code the table t.csv can hold");
    EXPECT_EQ(problem_name(problem_kind::label_out_of_range), "label_out_of_range");
    EXPECT_EQ(problem_name(code_problem_kind::code_missing), "code_missing");
}

// The plug-ins' naming gives their fixed messages byte for byte, and each
// problem the identifier the plug-ins raise it under.
TEST(ProblemText, PluginNamingGivesThePluginsMessages)
{
    problem_naming plugin{"the class table (argument 1)", "the window (argument 2)",
                          "the label raster (argument 3)", "probesPerCell (argument 4)", "min_valid", 1, true};
    plugin.table_in_passing = "the class table";
    plugin.class_shown = class_aside::label;
    plugin.detail = problem_detail::reason;
    const std::vector<double> table{0.5, 0.25, std::nan("")};
    map_request q{map_kind::varnok, table.data(), 3, 3, 3};
    EXPECT_EQ(problem_text({problem_kind::non_finite_class_value, 3}, q, plugin),
              "The class table (argument 1) holds NaN for class 3 (label 3); Varnok computes with every "
              "class value, so each must be a finite number.");
    EXPECT_EQ(problem_text({problem_kind::label_out_of_range, 7, 11, 39}, q, plugin),
              "Label 7 at row 12, column 40 of the label raster (argument 3) is outside 1..3, the classes "
              "of the class table.");
    EXPECT_EQ(problem_text({problem_kind::empty_table}, q, plugin),
              "The class table (argument 1) is empty; it needs one value per class.");
    const std::vector<double> infinite{0.5, std::numeric_limits<double>::infinity()};
    q = {map_kind::marnisa, infinite.data(), 2, 3, 3};
    EXPECT_EQ(problem_text({problem_kind::non_finite_class_value, 2}, q, plugin),
              "The class table (argument 1) holds Inf for class 2 (label 2); Marnisa would keep every cell "
              "of that class and spread Inf over its windows; use a finite value (0, a negative value or "
              "NaN keeps none).");
    q.map = map_kind::sulmet;
    EXPECT_EQ(problem_text({problem_kind::window_too_large, 3037000500}, q, plugin),
              "The window (argument 2) holds 3037000500 cells; Sulmet scores windows of at most 3037000499 "
              "cells.");
    // A name spelled as code keeps its spelling at the start of a sentence.
    q.map = map_kind::dravix;
    EXPECT_EQ(problem_text({problem_kind::bad_probes_per_cell, -1}, q, plugin),
              "probesPerCell (argument 4) must be 0 or more; it is -1.");

    EXPECT_EQ(problem_identifier(problem_kind::empty_table), "badTable");
    EXPECT_EQ(problem_identifier(problem_kind::non_finite_class_value), "badTable");
    EXPECT_EQ(problem_identifier(problem_kind::empty_window), "emptyWindow");
    EXPECT_EQ(problem_identifier(problem_kind::window_too_large), "badWindow");
    EXPECT_EQ(problem_identifier(problem_kind::label_out_of_range), "labelOutOfRange");
    EXPECT_EQ(problem_identifier(problem_kind::bad_probes_per_cell), "badProbesPerCell");
}

// The command line's users give codes, in a table file, and mark nodata
// with --exclude.
TEST(ProblemText, CommandLineNamingNamesCodesAndHowToMarkNodata)
{
    const std::vector<class_code> codes{11, 21, 41};
    const std::vector<double> table{0.5, std::nan(""), 1.0};
    problem_naming tool{"the table t.csv", "the window", "in.tif", "--probes-per-cell", "--min-valid"};
    tool.codes = codes;
    tool.exclude = "--exclude ";
    map_request q{map_kind::varnok, table.data(), 3, 3, 3};
    EXPECT_EQ(problem_text({problem_kind::non_finite_class_value, 2}, q, tool),
              "the table t.csv holds NaN for code 21, which Varnok cannot compute with; give a finite value");
    q.nodata = true;
    EXPECT_EQ(problem_text({problem_kind::window_too_large, 2147483648}, q, tool),
              "the window holds 2147483648 cells; with nodata cells every map takes windows of at most "
              "2147483647 cells");
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::code_missing, 77, 55, 33}, tool),
              "code 77 at row 55, column 33 of in.tif is neither in the table t.csv nor nodata (add it to "
              "the table t.csv, or mark it nodata: --exclude 77)");
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::code_missing,
                                        std::numeric_limits<std::uint64_t>::max() - 6, 12, 20},
                           tool),
              "code 18446744073709551609 at row 12, column 20 of in.tif is not nodata and is above 2^63 - 1, "
              "the largest code the table t.csv can hold (mark it nodata: --exclude 18446744073709551609)");
}

// Python: labels arrays name the broken rule and the map's reason; code
// rasters name cells alone, as the array is the call's only raster.
TEST(ProblemText, PythonNamingsForLabelsAndForCodes)
{
    problem_naming labels;
    labels.table_in_passing = "the table";
    labels.detail = problem_detail::rule_and_reason;
    labels.class_shown = class_aside::table_entry;
    const std::vector<double> table{0.5, std::numeric_limits<double>::infinity(), 0.5};
    const map_request q{map_kind::sulmet, table.data(), 3, 3, 3};
    EXPECT_EQ(problem_text({problem_kind::non_finite_class_value, 2}, q, labels),
              "table holds Inf for class 2 (table[1]), which is not finite; Sulmet computes with every class value, so "
              "each must be a finite number");
    EXPECT_EQ(problem_text({problem_kind::label_out_of_range, 0, 27, 20}, q, labels),
              "label 0 at row 27, column 20 of labels is outside 1..3, the classes of the table");
    // A label beyond int32 reaches the core as an invalid label; the sentence
    // names the value the caller's array holds.
    EXPECT_EQ(problem_text({problem_kind::label_out_of_range, 0, 3, 4}, q, labels, std::uint64_t{1} << 63),
              "label 9223372036854775808 at row 3, column 4 of labels is outside 1..3, the classes of the table");

    problem_naming codes;
    codes.labels = {};
    codes.table_in_passing = "the table";
    codes.exclude = "exclude=";
    codes.power = "**";
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::code_missing, 77, 3, 4}, codes),
              "code 77 at row 3, column 4 is neither in the table nor nodata (add it to the table, or mark "
              "it nodata: exclude=77)");
    EXPECT_EQ(problem_text(code_problem{code_problem_kind::code_missing,
                                        std::uint64_t{9223372036854775809u}, 12, 20},
                           codes),
              "code 9223372036854775809 at row 12, column 20 is not nodata and is above 2**63 - 1, the "
              "largest code the table can hold (mark it nodata: exclude=9223372036854775809)");
}

} // namespace
} // namespace rw
