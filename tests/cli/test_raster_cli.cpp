// raster-maps end to end: GeoTIFFs written here, the tool run as a user
// would, and every output cell compared with the core's in-memory run on the
// recoded column-major raster, the plug-ins' own path.
#include "cli_fixture.hpp"

#include <cmath>
#include <cstring>
#include <random>

namespace cli_test {
namespace {

const std::map<std::int64_t, double> table = {{11, 0.1}, {21, 0.9}, {41, 0.6}, {52, 0.3}, {90, 0.05}};
const char* const table_csv = "code,value\n90,0.05\n11,0.1\n21,0.9\n\n41,0.6\n52,0.3\n";

code_raster random_codes(index_t M, index_t N, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> pick(0, 4);
    const std::int64_t codes[] = {11, 21, 41, 52, 90};
    code_raster r{M, N, std::vector<std::int64_t>(static_cast<std::size_t>(M * N))};
    for (auto& c : r.codes) c = codes[pick(gen)];
    return r;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every cell of out: the expected score bit for bit where the map scores,
// NaN (or 0 with --border zero) elsewhere.
void expect_map(const output_raster& out, const std::vector<double>& want, const rw::map_request& q,
                bool border_zero = false, bool float32 = false)
{
    const rw::cell_block s = rw::scored_cells(q, out.M, out.N);
    index_t scored = 0;
    for (index_t r = 0; r < out.M; ++r)
        for (index_t c = 0; c < out.N; ++c) {
            const double got = out.at(r, c), expected = want[r + out.M * c];
            if (r >= s.r0 && r < s.r1 && c >= s.c0 && c < s.c1) {
                ++scored;
                const double exact = float32 ? static_cast<double>(static_cast<float>(expected)) : expected;
                ASSERT_TRUE(same_bits(got, exact) || (std::isnan(got) && std::isnan(exact)))
                    << "row " << r << ", column " << c << ": " << got << " vs " << exact;
            } else if (border_zero) {
                ASSERT_EQ(got, 0.0) << r << ", " << c;
            } else {
                ASSERT_TRUE(std::isnan(got)) << r << ", " << c;
            }
        }
    EXPECT_GT(scored, 0);
}

rw::map_request request(rw::map_kind map, index_t h, index_t w)
{
    rw::map_request q{map};
    q.h = h;
    q.w = w;
    q.seed = 7;
    q.probes_per_cell = 4;
    return q;
}

const char* names[] = {"varnok", "marnisa", "sulmet", "ombrel", "dravix"};

// Strips of 16 rows make the tool read and write through many RasterIO
// calls; the maps' bits must not depend on that.
TEST(RasterMapsTool, EveryMapEqualsThePluginPathBitForBit)
{
    const scratch_dir dir;
    const code_raster raster = random_codes(120, 97, 1);
    write_geotiff(dir / "in.tif", raster, GDT_Byte);
    write_text(dir / "t.csv", table_csv);
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(names[k]);
        const auto map = static_cast<rw::map_kind>(k);
        const rw::map_request q = request(map, 7, 5);
        const std::string extra = k == 4 ? " --probes-per-cell 4 --seed 7" : k == 1 ? " --seed 7" : "";
        const auto run = run_tool(dir, std::string(names[k]) + " -q --table " + dir / "t.csv" +
                                           " --window 7x5 --strip-rows 16 --threads 2 --arithmetic plugin --edges margin" + extra + " " +
                                           dir / "in.tif" + " " + dir / "out.tif --overwrite");
        ASSERT_EQ(run.status, 0) << run.message;
        EXPECT_EQ(run.message, "");
        expect_map(read_output(dir / "out.tif"), plugin_map(raster, table, {}, q), q);
    }
}

TEST(RasterMapsTool, Float32BorderZeroAndCog)
{
    const scratch_dir dir;
    const code_raster raster = random_codes(80, 90, 2);
    write_geotiff(dir / "in.tif", raster, GDT_UInt16);
    write_text(dir / "t.csv", table_csv);
    const rw::map_request q = request(rw::map_kind::ombrel, 9, 9);
    const auto want = plugin_map(raster, table, {}, q);
    auto run = run_tool(dir, "ombrel -q --arithmetic plugin --edges margin --table " + dir / "t.csv" + " --window 9 --type Float32 " +
                                 "--border zero " + dir / "in.tif" + " " + dir / "f.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    expect_map(read_output(dir / "f.tif"), want, q, true, true);

    run = run_tool(dir, "ombrel -q --arithmetic plugin --edges margin --table " + dir / "t.csv" + " --window 9 -of COG --co BLOCKSIZE=256 " +
                            dir / "in.tif" + " " + dir / "c.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    expect_map(read_output(dir / "c.tif"), want, q);
    GDALDataset* ds = GDALDataset::Open((dir / "c.tif").c_str(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    EXPECT_STREQ(ds->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE"), "COG");
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_MAP"), "ombrel");
    GDALClose(ds);
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"c.tif", "f.tif", "in.tif", "t.csv"}));
}

TEST(RasterMapsTool, KeepsCrsGeotransformAndRecordsTheRun)
{
    const scratch_dir dir;
    write_geotiff(dir / "in.tif", random_codes(60, 70, 3), GDT_Int32);
    write_text(dir / "t.csv", table_csv);
    const auto run = run_tool(dir, "dravix --table " + dir / "t.csv" + " --window 21x15 --seed 4242 " +
                                       dir / "in.tif" + " " + dir / "out.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    EXPECT_NE(run.message.find("seed 4242"), std::string::npos) << run.message;
    EXPECT_NE(run.message.find("100 - done."), std::string::npos) << run.message;

    GDALDataset* ds = GDALDataset::Open((dir / "out.tif").c_str(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    double transform[6];
    ASSERT_EQ(ds->GetGeoTransform(transform), CE_None);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(transform[i], geotransform[i]);
    OGRSpatialReference utm;
    utm.importFromEPSG(32633);
    ASSERT_NE(ds->GetSpatialRef(), nullptr);
    EXPECT_TRUE(ds->GetSpatialRef()->IsSame(&utm));
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_MAP"), "dravix");
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_WINDOW"), "21x15");
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_SEED"), "4242");
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_TABLE"), "11:0.1 21:0.9 41:0.6 52:0.3 90:0.05");
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_ARITHMETIC"), "exact");
    GDALRasterBand* band = ds->GetRasterBand(1);
    EXPECT_EQ(band->GetRasterDataType(), GDT_Float64);
    int has = 0;
    EXPECT_TRUE(std::isnan(band->GetNoDataValue(&has)));
    EXPECT_TRUE(has);
    int bx = 0, by = 0;
    band->GetBlockSize(&bx, &by);
    EXPECT_EQ(bx, 256);
    EXPECT_STREQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
    GDALClose(ds);
}

// Nodata (code 0) fills a hole and the left edge. The band's nodata value,
// --src-nodata and --exclude mark the same cells, and each policy gives the
// core's answer for the raster recoded with nodata as label K + 1.
TEST(RasterMapsTool, NodataPoliciesOnAHoleAndAnEdge)
{
    const scratch_dir dir;
    code_raster raster = random_codes(90, 110, 4);
    for (index_t r = 0; r < raster.M; ++r)
        for (index_t c = 0; c < raster.N; ++c)
            if (c < 12 || (r >= 40 && r < 47 && c >= 50 && c < 58)) raster.at(r, c) = 0;
    write_geotiff(dir / "own.tif", raster, GDT_Int16, 0.0);
    write_geotiff(dir / "bare.tif", raster, GDT_Int16);
    write_text(dir / "t.csv", table_csv);
    const std::string t = " -q --arithmetic plugin --edges margin --table " + dir / "t.csv" + " --window 9x7 --overwrite ";
    for (const char* name : {"varnok", "sulmet", "ombrel", "marnisa", "dravix"})
        for (const bool renormalise : {false, true}) {
            SCOPED_TRACE(std::string(name) + (renormalise ? " renormalise" : " strict"));
            const rw::map_kind map = static_cast<rw::map_kind>(
                std::find_if(std::begin(names), std::end(names), [&](const char* n) { return std::strcmp(n, name) == 0; }) -
                std::begin(names));
            rw::map_request q = request(map, 9, 7);
            q.probes_per_cell = 12;
            std::string policy = rw::map_kind::marnisa == map || rw::map_kind::dravix == map ? "--seed 7 " : "";
            if (renormalise) {
                q.policy = rw::nodata_policy::renormalise;
                q.min_valid = 0.3;
                policy += "--nodata-policy renormalise --min-valid 0.3 ";
            }
            const auto want = plugin_map(raster, table, {0}, q);
            for (const std::string how : {"own.tif", "bare.tif --src-nodata 0", "bare.tif --exclude 0"}) {
                const auto run = run_tool(dir, std::string(name) + t + policy + dir / how.substr(0, how.find(' ')) +
                                                   how.substr(std::min(how.size(), how.find(' '))) + " " + dir / "out.tif");
                ASSERT_EQ(run.status, 0) << run.message;
                const output_raster out = read_output(dir / "out.tif");
                expect_map(out, want, q);
                // Strict: every window over the edge or the hole is NaN.
                if (!renormalise) {
                    EXPECT_TRUE(std::isnan(out.at(30, 11 + 3))); // the window at column 11 holds column 11
                    EXPECT_TRUE(std::isnan(out.at(45, 54)));
                    EXPECT_FALSE(std::isnan(out.at(30, 12 + 3)));
                } else {
                    EXPECT_FALSE(std::isnan(out.at(45, 54)));
                }
            }
        }
}

// By default every map computes under exact arithmetic and scores every
// window inside the raster, as the core does in memory, whatever the strips
// and threads; a window of one class gets exactly its value, which the
// plug-ins' summed-area table of doubles misses.
TEST(RasterMapsTool, ExactArithmeticByDefault)
{
    const scratch_dir dir;
    const code_raster raster = random_codes(90, 83, 8);
    write_geotiff(dir / "in.tif", raster, GDT_Byte);
    write_text(dir / "t.csv", table_csv);
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(names[k]);
        rw::map_request q = request(static_cast<rw::map_kind>(k), 9, 6);
        q.arithmetic = rw::arithmetic::exact;
        q.edges = rw::edge_rule::inside;
        const auto want = plugin_map(raster, table, {}, q);
        const std::string extra = k == 4 ? " --probes-per-cell 4 --seed 7" : k == 1 ? " --seed 7" : "";
        for (const char* how : {"--strip-rows 1 --threads 1", "--strip-rows 7 --threads 3", "--threads 2"}) {
            SCOPED_TRACE(how);
            const auto run = run_tool(dir, std::string(names[k]) + " -q --overwrite --table " + dir / "t.csv" +
                                               " --window 9x6 " + how + extra + " " + dir / "in.tif " +
                                               dir / "out.tif");
            ASSERT_EQ(run.status, 0) << run.message;
            expect_map(read_output(dir / "out.tif"), want, q);
        }
    }

    const code_raster one_class{200, 150, std::vector<std::int64_t>(200 * 150, 11)};
    write_geotiff(dir / "one.tif", one_class, GDT_Byte);
    write_text(dir / "p.csv", "11,0.2\n21,0.9\n");
    const std::string args = "varnok -q --overwrite --table " + dir / "p.csv" + " --window 3 " + dir / "one.tif " +
                             dir / "one_out.tif";
    ASSERT_EQ(run_tool(dir, args).status, 0);
    const output_raster exact = read_output(dir / "one_out.tif");
    const rw::cell_block s = rw::scored_cells(request(rw::map_kind::varnok, 3, 3), 200, 150);
    for (index_t r = s.r0; r < s.r1; ++r)
        for (index_t c = s.c0; c < s.c1; ++c) ASSERT_EQ(exact.at(r, c), 0.2) << r << ", " << c;
    ASSERT_EQ(run_tool(dir, args + " --arithmetic plugin --edges margin").status, 0);
    const output_raster plugin = read_output(dir / "one_out.tif");
    EXPECT_TRUE(std::any_of(plugin.cells.begin(), plugin.cells.end(), [](double v) { return !std::isnan(v) && v != 0.2; }));
    GDALDataset* ds = GDALDataset::Open((dir / "one_out.tif").c_str(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_ARITHMETIC"), "plugin");
    GDALClose(ds);
}

// A code the table lacks: the message names it and a cell holding it, and
// no output is left behind.
TEST(RasterMapsTool, TableMissingACode)
{
    const scratch_dir dir;
    code_raster raster = random_codes(70, 60, 5);
    raster.at(55, 33) = 77;
    write_geotiff(dir / "in.tif", raster, GDT_Byte);
    write_text(dir / "t.csv", table_csv);
    const auto run = run_tool(dir, "sulmet -q --table " + dir / "t.csv" + " --window 5 --strip-rows 8 " +
                                       dir / "in.tif" + " " + dir / "out.tif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.message.find("code 77 at row 55, column 33"), std::string::npos) << run.message;
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.tif", "t.csv"}));
    // Excluded, it is nodata instead.
    EXPECT_EQ(run_tool(dir, "sulmet -q --table " + dir / "t.csv" + " --window 5 --exclude 77 " +
                                dir / "in.tif" + " " + dir / "out.tif")
                  .status,
              0);
}

// Each bad input: exit status 1 (2 for a bad command line), one line on
// standard error, and no output or temporary file.
TEST(RasterMapsTool, BadInputFailsCleanly)
{
    const scratch_dir dir;
    const code_raster raster = random_codes(50, 50, 6);
    write_geotiff(dir / "in.tif", raster, GDT_Byte);
    write_geotiff(dir / "real.tif", raster, GDT_Float32);
    write_text(dir / "t.csv", table_csv);
    write_text(dir / "bad.csv", "11,0.1\n21,x\n");
    write_text(dir / "nan.csv", "11,0.1\n21,nan\n41,0\n52,0\n90,0\n");
    write_text(dir / "old.tif", "keep me");
    const std::string in = dir / "in.tif", out = dir / "out.tif", t = " --table " + dir / "t.csv";
    const struct {
        std::string args, says;
        int status;
    } cases[] = {
        {"varnok" + t + " --window 5 " + dir / "none.tif " + out, "cannot open the input", 1},
        {"varnok" + t + " --window 5 " + dir / "real.tif " + out, "is Float32", 1},
        {"varnok --table " + dir / "bad.csv --window 5 " + in + " " + out, "bad.csv line 2", 1},
        {"varnok --table " + dir / "nan.csv --window 5 " + in + " " + out, "give a finite value", 1},
        {"varnok" + t + " --window 51x3 " + in + " " + out, "larger than the input", 1},
        {"varnok" + t + " --window 5 " + in + " " + dir / "old.tif", "exists; use --overwrite", 1},
        {"varnok" + t + " --window 5 --band 2 " + in + " " + out, "no band 2", 1},
        {"varnok" + t + " --window 5 -of NoSuchFormat " + in + " " + out, "unknown raster output format", 1},
        {"varnok" + t + " --window 0 " + in + " " + out, "--window", 2},
        {"varnok" + t + " --window 5 --frob " + in + " " + out, "unknown option --frob", 2},
        {"varnok" + t + " --window 5 " + in, "an input and an output", 2},
        {"varnok" + t + " --window 5 --arithmetic fast " + in + " " + out, "is exact or plugin; got 'fast'", 2},
    };
    for (const auto& c : cases) {
        const auto run = run_tool(dir, c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.message;
        EXPECT_NE(run.message.find("raster-maps: error: "), std::string::npos) << run.message;
        EXPECT_NE(run.message.find(c.says), std::string::npos) << run.message;
        EXPECT_EQ(std::count(run.message.begin(), run.message.end(), '\n'), 1) << run.message;
        EXPECT_EQ(dir.files(), (std::vector<std::string>{"bad.csv", "in.tif", "nan.csv", "old.tif",
                                                         "real.tif", "t.csv"}));
    }
    std::stringstream kept;
    kept << std::ifstream(dir / "old.tif").rdbuf();
    EXPECT_EQ(kept.str(), "keep me");
    // Marnisa reads NaN as a chance of 0; --overwrite replaces the old file.
    const auto run = run_tool(dir, "marnisa -q --table " + dir / "nan.csv --window 5 --overwrite " + in +
                                       " " + dir / "old.tif");
    EXPECT_EQ(run.status, 0) << run.message;
    EXPECT_EQ(read_output(dir / "old.tif").M, 50);
}

TEST(RasterMapsTool, HelpForTheProgramAndEachMap)
{
    const scratch_dir dir;
    const std::string help = dir / "help.txt";
    ASSERT_EQ(std::system((std::string(RASTER_MAPS_TOOL) + " --help > '" + help + "'").c_str()), 0);
    std::stringstream text;
    text << std::ifstream(help).rdbuf();
    for (const char* name : names) EXPECT_NE(text.str().find(name), std::string::npos);
    ASSERT_EQ(std::system((std::string(RASTER_MAPS_TOOL) + " dravix --help > '" + help + "'").c_str()), 0);
    std::stringstream dravix;
    dravix << std::ifstream(help).rdbuf();
    EXPECT_NE(dravix.str().find("--probes-per-cell"), std::string::npos);
    EXPECT_NE(dravix.str().find("--nodata-policy"), std::string::npos);
}

} // namespace
} // namespace cli_test

int main(int argc, char** argv)
{
    GDALAllRegister();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
