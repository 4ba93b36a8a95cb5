// raster-maps on codes at the ends of the 64-bit types, and on table files
// that are malformed or written by spreadsheets. A raster whose special
// codes stand for nodata must map as a plain raster with one nodata code.
#include "cli_fixture.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace cli_test {
namespace {

constexpr std::uint64_t uint64_top = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t int64_end = std::uint64_t{1} << 63; // INT64_MAX + 1
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();

// A GeoTIFF band of GDAL type `type` holding cells given row by row as
// 64-bit T.
template <class T>
void write_cells(const std::string& path, index_t M, index_t N, std::vector<T> cells, GDALDataType type,
                 std::optional<T> nodata = std::nullopt)
{
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDataset* ds = gtiff->Create(path.c_str(), static_cast<int>(N), static_cast<int>(M), 1, type, nullptr);
    ASSERT_NE(ds, nullptr);
    GDALRasterBand* band = ds->GetRasterBand(1);
    constexpr bool is_unsigned = std::is_same_v<T, std::uint64_t>;
    if (nodata) {
        if constexpr (is_unsigned) band->SetNoDataValueAsUInt64(*nodata);
        else band->SetNoDataValueAsInt64(*nodata);
    }
    ASSERT_EQ(band->RasterIO(GF_Write, 0, 0, static_cast<int>(N), static_cast<int>(M), cells.data(),
                             static_cast<int>(N), static_cast<int>(M), is_unsigned ? GDT_UInt64 : GDT_Int64,
                             0, 0, nullptr),
              CE_None);
    GDALClose(ds);
}

std::string bytes_of(const std::string& path)
{
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::vector<std::int64_t> random_cells(index_t M, index_t N, std::vector<std::int64_t> codes, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<std::size_t> pick(0, codes.size() - 1);
    std::vector<std::int64_t> cells(static_cast<std::size_t>(M * N));
    for (auto& c : cells) c = codes[pick(gen)];
    return cells;
}

// The output's cells, compared bit for bit (NaN included) with another's.
void expect_same_output(const std::string& got, const std::string& want)
{
    const output_raster a = read_output(got), b = read_output(want);
    ASSERT_EQ(a.cells.size(), b.cells.size());
    EXPECT_TRUE(std::any_of(a.cells.begin(), a.cells.end(), [](double v) { return std::isfinite(v); }));
    EXPECT_EQ(std::memcmp(a.cells.data(), b.cells.data(), a.cells.size() * sizeof(double)), 0) << got;
}

// UInt64 cells above INT64_MAX: the band's nodata 2^64 - 1 and excluded
// codes are nodata, exactly as -1 is in an Int64 copy; any other such code
// stops the run with its own value and cell, leaving the input as it was.
TEST(RasterMapsCodes, UInt64CodesAboveInt64Max)
{
    const scratch_dir dir;
    const index_t M = 40, N = 36;
    std::vector<std::int64_t> plain = random_cells(M, N, {5, 7, 9}, 11);
    std::vector<std::uint64_t> wide(plain.begin(), plain.end());
    const auto set = [&](index_t r, index_t c, std::uint64_t code) {
        wide[static_cast<std::size_t>(r * N + c)] = code;
        plain[static_cast<std::size_t>(r * N + c)] = -1;
    };
    for (index_t r = 17; r < 21; ++r) set(r, 10, uint64_top);
    set(12, 20, int64_end + 1);
    set(25, 3, int64_end + 5);
    write_cells<std::uint64_t>(dir / "wide.tif", M, N, wide, GDT_UInt64, uint64_top);
    write_cells<std::int64_t>(dir / "plain.tif", M, N, plain, GDT_Int64, -1);
    write_text(dir / "t.csv", "code,value\n5,0.25\n7,0.75\n9,0.5\n");
    const std::string table = " -q --overwrite --table " + dir / "t.csv" + " --window 7x5 ";

    const std::string before = bytes_of(dir / "wide.tif");
    auto run = run_tool(dir, "varnok" + table + dir / "wide.tif " + dir / "out.tif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.message.find("code 9223372036854775809 at row 12, column 20 of"), std::string::npos)
        << run.message;
    EXPECT_NE(run.message.find("--exclude 9223372036854775809"), std::string::npos) << run.message;
    EXPECT_EQ(bytes_of(dir / "wide.tif"), before);
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"plain.tif", "t.csv", "wide.tif"}));

    const std::string exclude = " --exclude 9223372036854775809,9223372036854775813 ";
    for (const std::string map : {"varnok", "marnisa", "sulmet", "ombrel", "dravix"}) {
        const std::string seeded = map + (map == "marnisa" || map == "dravix" ? " --seed 3" : "");
        run = run_tool(dir, seeded + table + exclude + dir / "wide.tif " + dir / "out.tif");
        ASSERT_EQ(run.status, 0) << run.message;
        ASSERT_EQ(run_tool(dir, seeded + table + dir / "plain.tif " + dir / "want.tif").status, 0);
        expect_same_output(dir / "out.tif", dir / "want.tif");
    }
    GDALDataset* ds = GDALDataset::Open((dir / "out.tif").c_str(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_NODATA_CODES"),
                 "9223372036854775809 9223372036854775813 18446744073709551615");
    GDALClose(ds);

    // --src-nodata takes 2^64 - 1 too, in place of the band's own value.
    write_cells<std::uint64_t>(dir / "bare.tif", M, N, wide, GDT_UInt64);
    run = run_tool(dir, "sulmet" + table + exclude + "--src-nodata 18446744073709551615 " + dir / "bare.tif " +
                            dir / "out.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    ASSERT_EQ(run_tool(dir, "sulmet" + table + dir / "plain.tif " + dir / "want.tif").status, 0);
    expect_same_output(dir / "out.tif", dir / "want.tif");
    run = run_tool(dir, "sulmet" + table + exclude + dir / "bare.tif " + dir / "out.tif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.message.find("code 18446744073709551615 at row 17, column 10"), std::string::npos)
        << run.message;
    run = run_tool(dir, "sulmet" + table + "--exclude 18446744073709551616 " + dir / "bare.tif " + dir / "out.tif");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.message.find("-9223372036854775808..18446744073709551615"), std::string::npos) << run.message;
}

// Int64 codes at both ends: negative table codes beside INT64_MAX cells,
// INT64_MIN as a code and as the band's nodata value.
TEST(RasterMapsCodes, Int64NegativeCodesAndExtremes)
{
    const scratch_dir dir;
    const index_t M = 30, N = 32;
    std::vector<std::int64_t> codes = random_cells(M, N, {-3, -1, int64_min}, 12);
    std::vector<std::int64_t> small(codes.size());
    for (std::size_t k = 0; k < codes.size(); ++k) small[k] = codes[k] == -3 ? 1 : codes[k] == -1 ? 2 : 0;
    write_cells<std::int64_t>(dir / "in.tif", M, N, codes, GDT_Int64, int64_min);
    write_cells<std::int64_t>(dir / "small.tif", M, N, small, GDT_Int64, 0);
    write_text(dir / "t.csv", "-3,0.25\n-1,0.75\n");
    write_text(dir / "small.csv", "1,0.25\n2,0.75\n");
    const std::string options = " -q --overwrite --window 5 --nodata-policy renormalise ";
    ASSERT_EQ(run_tool(dir, "varnok --table " + dir / "t.csv" + options + dir / "in.tif " + dir / "out.tif").status, 0);
    ASSERT_EQ(run_tool(dir, "varnok --table " + dir / "small.csv" + options + dir / "small.tif " + dir / "want.tif")
                  .status,
              0);
    expect_same_output(dir / "out.tif", dir / "want.tif");

    // INT64_MIN as a table code, nodata given on the command line.
    write_text(dir / "min.csv", "-9223372036854775808,0.5\n-3,0.25\n-1,0.75\n");
    ASSERT_EQ(run_tool(dir, "varnok --table " + dir / "min.csv --src-nodata -9223372036854775808" + options +
                                dir / "in.tif " + dir / "out.tif")
                  .status,
              0);
    expect_same_output(dir / "out.tif", dir / "want.tif");

    // A cell far above the table's codes is missing from it, not some class.
    std::vector<std::int64_t> top(codes.size(), -3);
    top[static_cast<std::size_t>(7 * N + 9)] = int64_max;
    top[static_cast<std::size_t>(8 * N + 9)] = -1;
    write_cells<std::int64_t>(dir / "top.tif", M, N, top, GDT_Int64);
    const std::string before = bytes_of(dir / "top.tif");
    const auto run = run_tool(dir, "varnok --table " + dir / "t.csv" + options + dir / "top.tif " + dir / "top-out.tif");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.message.find("code 9223372036854775807 at row 7, column 9 of"), std::string::npos)
        << run.message;
    EXPECT_EQ(bytes_of(dir / "top.tif"), before);
    EXPECT_FALSE(fs::exists(dir / "top-out.tif"));
}

// Table files: what a spreadsheet writes is read, and a malformed row is
// named by file, line and field rather than taken for a header.
TEST(RasterMapsCodes, TableFiles)
{
    const scratch_dir dir;
    const index_t M = 30, N = 30;
    write_cells<std::int64_t>(dir / "in.tif", M, N, random_cells(M, N, {11, 21}, 13), GDT_Byte);
    const std::string before = bytes_of(dir / "in.tif");
    const std::string bom = "\xEF\xBB\xBF";

    const struct {
        std::string text, table;
    } good[] = {
        {bom + "11,0.25\r\n21,0.5\r\n", "11:0.25 21:0.5"},
        {bom + "code,value\n11,0.25\n21,0.5\n", "11:0.25 21:0.5"},
        {"\"code\",\"value\"\r\n\r\n# land cover\r\n\"11\",\"0.25\"\r\n 21 , 5e-1 \r\n", "11:0.25 21:0.5"},
        {"+11,1e-400\n21,-0.5\n", "11:0 21:-0.5"}, // below the least double: the nearest, 0
    };
    for (const auto& g : good) {
        write_text(dir / "t.csv", g.text);
        const auto run = run_tool(dir, "varnok -q --overwrite --table " + dir / "t.csv" + " --window 5 " +
                                           dir / "in.tif " + dir / "out.tif");
        ASSERT_EQ(run.status, 0) << g.text << "\n" << run.message;
        GDALDataset* ds = GDALDataset::Open((dir / "out.tif").c_str(), GDAL_OF_RASTER);
        ASSERT_NE(ds, nullptr);
        EXPECT_STREQ(ds->GetMetadataItem("RASTER_MAPS_TABLE"), g.table.c_str()) << g.text;
        GDALClose(ds);
    }
    fs::remove(dir / "out.tif");

    const struct {
        std::string text, says;
    } bad[] = {
        {"11,0.l\n21,0.5\n", "q.csv line 1, field 2: '0.l' is not a number"},
        {bom + "11,0.l\n21,0.5\n", "q.csv line 1, field 2: '0.l' is not a number"},
        {"code,value\n11,1e400\n21,0.5\n", "q.csv line 2, field 2: '1e400' is beyond the range of doubles"},
        {"11,0\n21,-1e400\n", "q.csv line 2, field 2: '-1e400' is beyond the range of doubles"},
        {"# codes\n99999999999999999999,1\n11,0\n21,0\n",
         "q.csv line 2, field 1: '99999999999999999999' is beyond the range of codes, "
         "-9223372036854775808..9223372036854775807"},
        {"11,0\n9223372036854775808,1\n21,0\n", "q.csv line 2, field 1: '9223372036854775808' is beyond"},
        {"1.5,0.3\n11,0\n21,0\n", "q.csv line 1, field 1: '1.5' is not a whole number"},
        {"11,0.5,3\n21,0\n", "q.csv line 1: expected code,value"},
    };
    for (const auto& b : bad) {
        write_text(dir / "q.csv", b.text);
        const auto run = run_tool(dir, "varnok -q --table " + dir / "q.csv" + " --window 5 " + dir / "in.tif " +
                                           dir / "out.tif");
        EXPECT_EQ(run.status, 1) << b.text;
        EXPECT_NE(run.message.find(b.says), std::string::npos) << b.text << "\n" << run.message;
        EXPECT_EQ(std::count(run.message.begin(), run.message.end(), '\n'), 1) << run.message;
        EXPECT_EQ(bytes_of(dir / "in.tif"), before);
        EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.tif", "q.csv", "t.csv"}));
    }
}

} // namespace
} // namespace cli_test
