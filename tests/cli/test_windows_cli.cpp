// Windows as the command line takes them: rectangles, circles and annuli in
// cells or metres, and the edge rule, against direct per-window computations
// and the core's in-memory run.
#include "cli_fixture.hpp"

#include "cli/tool_error.hpp"
#include "cli/tool_options.hpp"

#include <cmath>
#include <random>

namespace cli_test {
namespace {

const char* const table_csv = "code,value\n11,0.1\n21,0.9\n41,0.6\n52,0.3\n";
const std::map<std::int64_t, double> table = {{11, 0.1}, {21, 0.9}, {41, 0.6}, {52, 0.3}};

code_raster random_codes(index_t M, index_t N, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> pick(0, 3);
    const std::int64_t codes[] = {11, 21, 41, 52};
    code_raster r{M, N, std::vector<std::int64_t>(static_cast<std::size_t>(M * N))};
    for (auto& c : r.codes) c = codes[pick(gen)];
    return r;
}

cli::tool_options parsed(std::vector<const char*> args)
{
    args.insert(args.begin(), {"raster-maps", "varnok", "--table", "t.csv"});
    args.insert(args.end(), {"in.tif", "out.tif"});
    cli::command_line parser;
    return *parser.parse(static_cast<int>(args.size()), args.data()).run;
}

std::string refusal(std::vector<const char*> args)
{
    try {
        parsed(std::move(args));
    } catch (const cli::usage_error& e) {
        return e.what();
    }
    return "accepted";
}

// 30 m wide, 20 m tall pixels in UTM zone 33N.
const double non_square[6] = {500000.0, 30.0, 0.0, 4100000.0, 0.0, -20.0};

std::string metadata(const std::string& path, const char* key)
{
    GDALDataset* ds = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER);
    EXPECT_NE(ds, nullptr) << path;
    if (!ds) return {};
    const char* v = ds->GetMetadataItem(key);
    std::string value = v ? v : "(none)";
    GDALClose(ds);
    return value;
}

TEST(RasterMapsWindows, EachSyntaxReadsAsItsFootprintAndBadOnesNameTheOption)
{
    using shape = rw::window_shape;
    const struct {
        const char* text;
        shape s;
        double a, b; // rectangle: height, width; circle and annulus: inner, outer
        cli::size_unit unit;
    } cases[] = {{"21", shape::rectangle, 21, 21, cli::size_unit::cells},
                 {"21x15", shape::rectangle, 21, 15, cli::size_unit::cells},
                 {"21X15", shape::rectangle, 21, 15, cli::size_unit::cells},
                 {"630m", shape::rectangle, 630, 630, cli::size_unit::metres},
                 {"630x450m", shape::rectangle, 630, 450, cli::size_unit::metres},
                 {"630mx450m", shape::rectangle, 630, 450, cli::size_unit::metres},
                 {"circle:10", shape::circle, 0, 10, cli::size_unit::cells},
                 {"circle:2.5", shape::circle, 0, 2.5, cli::size_unit::cells},
                 {"circle:300m", shape::circle, 0, 300, cli::size_unit::metres},
                 {"annulus:5,10", shape::annulus, 5, 10, cli::size_unit::cells},
                 {"annulus:0,3", shape::annulus, 0, 3, cli::size_unit::cells},
                 {"annulus:150m,300m", shape::annulus, 150, 300, cli::size_unit::metres}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const cli::window_spec w = parsed({"--window", c.text}).window;
        EXPECT_EQ(w.shape, c.s);
        EXPECT_EQ(w.unit, c.unit);
        EXPECT_EQ(w.text, c.text);
        if (c.s == shape::rectangle) {
            EXPECT_EQ(w.height, c.a);
            EXPECT_EQ(w.width, c.b);
        } else {
            EXPECT_EQ(w.inner, c.a);
            EXPECT_EQ(w.outer, c.b);
        }
    }
    for (const char* bad : {"", "x", "0", "3.5", "21x", "x15", "21x15x3", "-3", "2147483648", "630mx15",
                            "21xm", "circle:", "circle:-2", "circle:inf", "circle:nan", "circle:0x10",
                            "square:3", "annulus:5", "annulus:5m,10", "annulus:5,10,15", "circle:3mm"}) {
        SCOPED_TRACE(bad);
        const std::string why = refusal({"--window", bad});
        EXPECT_EQ(why.rfind("--window: ", 0), 0u) << why;
        EXPECT_NE(why.find(std::string("got '") + bad + "'"), std::string::npos) << why;
    }

    EXPECT_EQ(parsed({"--window", "5"}).edges, rw::edge_rule::inside);
    EXPECT_EQ(parsed({"--window", "5", "--edges", "margin"}).edges, rw::edge_rule::margin);
    EXPECT_EQ(parsed({"--window", "5", "--edges", "inside"}).edges, rw::edge_rule::inside);
    const std::string why = refusal({"--window", "5", "--edges", "everywhere"});
    EXPECT_EQ(why.rfind("--edges: ", 0), 0u) << why;
}

// The default edge rule scores exactly the cells whose window lies inside
// the raster, each with the plain mean of its window's class values.
TEST(RasterMapsWindows, InsideByDefaultScoresEveryWholeWindow)
{
    const scratch_dir dir;
    const code_raster raster = random_codes(17, 13, 5);
    write_geotiff(dir / "in.tif", raster, GDT_Byte);
    write_text(dir / "t.csv", table_csv);
    const index_t h = 5, w = 4;
    const auto run = run_tool(dir, "varnok -q --table " + dir / "t.csv" + " --window 5x4 " + dir / "in.tif " +
                                       dir / "out.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    const output_raster out = read_output(dir / "out.tif");
    for (index_t r = 0; r < raster.M; ++r)
        for (index_t c = 0; c < raster.N; ++c) {
            const index_t top = r - h / 2, left = c - w / 2;
            if (top < 0 || left < 0 || top + h > raster.M || left + w > raster.N) {
                EXPECT_TRUE(std::isnan(out.at(r, c))) << r << ", " << c;
                continue;
            }
            double sum = 0.0;
            for (index_t i = top; i < top + h; ++i)
                for (index_t j = left; j < left + w; ++j) sum += table.at(raster.codes[i * raster.N + j]);
            EXPECT_NEAR(out.at(r, c), sum / static_cast<double>(h * w), 1e-12) << r << ", " << c;
        }
    EXPECT_EQ(metadata(dir / "out.tif", "RASTER_MAPS_EDGES"), "inside");
}

// Sizes in metres on 30 m x 20 m pixels: a rectangle rounds each side by its
// own pixel side, a circle keeps its radius and takes both; both maps equal
// the core's in-memory map of the same footprint, and the metadata records
// the window as given, its extent and cells, and the edge rule.
TEST(RasterMapsWindows, MetresOnNonSquarePixels)
{
    const scratch_dir dir;
    const code_raster raster = random_codes(70, 60, 6);
    write_geotiff(dir / "in.tif", raster, GDT_Byte, std::nullopt, non_square);
    write_text(dir / "t.csv", table_csv);
    const struct {
        const char* window;
        const char* edges;
        rw::footprint f;
        index_t h, w; // the rectangle's size in cells; circles take their extent
        const char* extent;
        const char* cells;
    } cases[] = {
        {"630x450m", "inside", {}, 32, 15, "32x15", "480"},   // 31.5 rows round up, 15 columns
        {"100m", "margin", {}, 5, 3, "5x3", "15"},            // 3.33 columns round down
        {"5m", "inside", {}, 1, 1, "1x1", "1"},                // under one pixel: one cell
        {"circle:60m", "inside", {rw::window_shape::circle, 0, 60, 20, 30}, 0, 0, "7x5", "19"},
        {"annulus:30m,60m", "margin", {rw::window_shape::annulus, 30, 60, 20, 30}, 0, 0, "7x5", "14"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        const auto run = run_tool(dir, std::string("varnok -q --overwrite --table ") + dir / "t.csv" + " --window " +
                                           c.window + " --edges " + c.edges + " " + dir / "in.tif " + dir / "out.tif");
        ASSERT_EQ(run.status, 0) << run.message;
        rw::map_request q{rw::map_kind::varnok};
        q.arithmetic = rw::arithmetic::exact;
        q.edges = std::string(c.edges) == "inside" ? rw::edge_rule::inside : rw::edge_rule::margin;
        q.h = c.h;
        q.w = c.w;
        rw::set_footprint(q, c.f);
        const std::vector<double> want = plugin_map(raster, table, {}, q);
        const output_raster out = read_output(dir / "out.tif");
        const rw::cell_block s = rw::scored_cells(q, raster.M, raster.N);
        ASSERT_FALSE(s.empty());
        for (index_t r = 0; r < raster.M; ++r)
            for (index_t col = 0; col < raster.N; ++col) {
                const bool scored = r >= s.r0 && r < s.r1 && col >= s.c0 && col < s.c1;
                if (scored) ASSERT_EQ(out.at(r, col), want[r + raster.M * col]) << r << ", " << col;
                else ASSERT_TRUE(std::isnan(out.at(r, col))) << r << ", " << col;
            }
        EXPECT_EQ(metadata(dir / "out.tif", "RASTER_MAPS_FOOTPRINT"), c.window);
        EXPECT_EQ(metadata(dir / "out.tif", "RASTER_MAPS_WINDOW"), c.extent);
        EXPECT_EQ(metadata(dir / "out.tif", "RASTER_MAPS_FOOTPRINT_CELLS"), c.cells);
        EXPECT_EQ(metadata(dir / "out.tif", "RASTER_MAPS_EDGES"), c.edges);
    }
}

// A CRS in US survey feet: metres are converted through its linear unit,
// so a 300 m circle on 100 ft (30.48 m) pixels reaches 9 cells, not 3.
TEST(RasterMapsWindows, MetresThroughTheLinearUnitOfTheCrs)
{
    const scratch_dir dir;
    const double feet[6] = {6000000.0, 100.0, 0.0, 2000000.0, 0.0, -100.0};
    write_geotiff(dir / "in.tif", random_codes(40, 40, 7), GDT_Byte, std::nullopt, feet, 2227);
    write_text(dir / "t.csv", table_csv);
    const auto run = run_tool(dir, "varnok -q --table " + dir / "t.csv" + " --window circle:300m " + dir / "in.tif " +
                                       dir / "out.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    EXPECT_EQ(metadata(dir / "out.tif", "RASTER_MAPS_WINDOW"), "19x19");
}

// Metres need a projected CRS: a geographic one, none at all, or a rotated
// geotransform stop the run before any output exists, saying what to do
// instead; a window in cells maps the same rasters.
TEST(RasterMapsWindows, MetresRefusedWithoutAProjectedCrs)
{
    const scratch_dir dir;
    const double degrees[6] = {10.0, 0.001, 0.0, 50.0, 0.0, -0.001};
    const double rotated[6] = {500000.0, 30.0, 5.0, 4100000.0, 5.0, -30.0};
    write_geotiff(dir / "geo.tif", random_codes(30, 30, 8), GDT_Byte, std::nullopt, degrees, 4326);
    write_geotiff(dir / "none.tif", random_codes(30, 30, 8), GDT_Byte, std::nullopt, geotransform, 0);
    write_geotiff(dir / "rotated.tif", random_codes(30, 30, 8), GDT_Byte, std::nullopt, rotated);
    write_text(dir / "t.csv", table_csv);
    const struct {
        const char* file;
        const char* says;
    } cases[] = {{"geo.tif", "is geographic, in degrees"}, {"none.tif", "has no CRS"}, {"rotated.tif", "rotated"}};
    for (const auto& c : cases)
        for (const char* window : {"630m", "circle:300m", "annulus:30m,90m"}) {
            SCOPED_TRACE(std::string(c.file) + " " + window);
            const auto run = run_tool(dir, std::string("sulmet -q --table ") + dir / "t.csv" + " --window " + window +
                                               " " + dir / c.file + " " + dir / "out.tif");
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.message.find(std::string("raster-maps: error: the window ") + window + " is in metres"),
                      std::string::npos)
                << run.message;
            EXPECT_NE(run.message.find(c.says), std::string::npos) << run.message;
            EXPECT_NE(run.message.find("in cells"), std::string::npos) << run.message;
            EXPECT_FALSE(fs::exists(dir / "out.tif"));
            EXPECT_EQ(run_tool(dir, std::string("sulmet -q --overwrite --table ") + dir / "t.csv" +
                                        " --window circle:3 " + dir / c.file + " " + dir / "out.tif")
                          .status,
                      0);
            fs::remove(dir / "out.tif");
        }
}

// A circle's or annulus's problems come from the core, naming the window as
// the user wrote it: radii out of order, or the plug-ins' arithmetic.
TEST(RasterMapsWindows, CoreProblemsOfAFootprintNameTheOption)
{
    const scratch_dir dir;
    write_geotiff(dir / "in.tif", random_codes(30, 30, 9), GDT_Byte);
    write_text(dir / "t.csv", table_csv);
    const struct {
        const char* options;
        const char* says;
    } cases[] = {{"--window annulus:10,5", "--window annulus:10,5: an annulus's radii"},
                 {"--window circle:3 --arithmetic plugin", "--window circle:3: circles and annuli need exact"},
                 {"--window circle:20", "the window circle:20 (41x41 cells) is larger than the input"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const auto run = run_tool(dir, std::string("varnok -q --table ") + dir / "t.csv" + " " + c.options + " " +
                                           dir / "in.tif " + dir / "out.tif");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.message.find(c.says), std::string::npos) << run.message;
        EXPECT_FALSE(fs::exists(dir / "out.tif"));
    }
}

// Each map with a circle and an annulus, in strips of a few rows and on
// several threads, equals the core's in-memory run of the same footprint on
// the column-major raster, with nodata in a hole; whole windows inside, and
// partial ones at every cell.
TEST(RasterMapsWindows, CirclesAndAnnuliEqualTheCoreInMemory)
{
    const scratch_dir dir;
    code_raster raster = random_codes(64, 57, 10);
    for (index_t r = 30; r < 34; ++r)
        for (index_t c = 20; c < 25; ++c) raster.at(r, c) = 0;
    write_geotiff(dir / "in.tif", raster, GDT_Int16, 0.0);
    write_text(dir / "t.csv", table_csv);
    const char* names[] = {"varnok", "marnisa", "sulmet", "ombrel", "dravix"};
    const struct {
        const char* window;
        rw::footprint f;
    } windows[] = {{"circle:4", {rw::window_shape::circle, 0, 4, 1, 1}},
                   {"annulus:2,5", {rw::window_shape::annulus, 2, 5, 1, 1}}};
    for (int k = 0; k < 5; ++k)
        for (const auto& win : windows)
            for (const char* policy : {"strict", "renormalise", "partial"}) {
                SCOPED_TRACE(std::string(names[k]) + " " + win.window + " " + policy);
                const bool partial = std::string(policy) == "partial";
                rw::map_request q{static_cast<rw::map_kind>(k)};
                q.arithmetic = rw::arithmetic::exact;
                q.edges = partial ? rw::edge_rule::partial : rw::edge_rule::inside;
                q.seed = 7;
                q.probes_per_cell = 4;
                q.policy = std::string(policy) == "renormalise" ? rw::nodata_policy::renormalise : rw::nodata_policy::strict;
                rw::set_footprint(q, win.f);
                const std::vector<double> want = plugin_map(raster, table, {0}, q);
                const std::string extra = k == 4 ? " --probes-per-cell 4 --seed 7" : k == 1 ? " --seed 7" : "";
                const auto run = run_tool(dir, std::string(names[k]) + " -q --overwrite --strip-rows 5 --threads 3 "
                                                                       "--table " +
                                                   dir / "t.csv" + " --window " + win.window +
                                                   (partial ? std::string(" --edges partial") : " --nodata-policy " + std::string(policy)) +
                                                   extra + " " + dir / "in.tif " + dir / "out.tif");
                ASSERT_EQ(run.status, 0) << run.message;
                const output_raster out = read_output(dir / "out.tif");
                const rw::cell_block s = rw::scored_cells(q, raster.M, raster.N);
                for (index_t r = 0; r < raster.M; ++r)
                    for (index_t c = 0; c < raster.N; ++c) {
                        const double got = out.at(r, c), expected = want[r + raster.M * c];
                        if (r >= s.r0 && r < s.r1 && c >= s.c0 && c < s.c1)
                            ASSERT_TRUE(got == expected || (std::isnan(got) && std::isnan(expected)))
                                << r << ", " << c << ": " << got << " vs " << expected;
                        else
                            ASSERT_TRUE(std::isnan(got)) << r << ", " << c;
                    }
            }
}

// Varnok over a circle is the mean over the cells within the radius, the
// cell at exactly the radius included.
TEST(RasterMapsWindows, VarnokCircleIsTheMeanOverTheDisc)
{
    const scratch_dir dir;
    const code_raster raster = random_codes(25, 23, 11);
    write_geotiff(dir / "in.tif", raster, GDT_Byte);
    write_text(dir / "t.csv", table_csv);
    const auto run = run_tool(dir, "varnok -q --table " + dir / "t.csv" + " --window circle:5 " + dir / "in.tif " +
                                       dir / "out.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    const output_raster out = read_output(dir / "out.tif");
    const index_t R = 5;
    for (index_t r = 0; r < raster.M; ++r)
        for (index_t c = 0; c < raster.N; ++c) {
            if (r < R || c < R || r + R >= raster.M || c + R >= raster.N) {
                EXPECT_TRUE(std::isnan(out.at(r, c))) << r << ", " << c;
                continue;
            }
            double sum = 0.0;
            index_t n = 0;
            for (index_t i = -R; i <= R; ++i)
                for (index_t j = -R; j <= R; ++j)
                    if (i * i + j * j <= R * R) {
                        sum += table.at(raster.codes[(r + i) * raster.N + c + j]);
                        ++n;
                    }
            EXPECT_NEAR(out.at(r, c), sum / static_cast<double>(n), 1e-12) << r << ", " << c;
        }
    EXPECT_EQ(metadata(dir / "out.tif", "RASTER_MAPS_FOOTPRINT_CELLS"), "81");
}

} // namespace
} // namespace cli_test
