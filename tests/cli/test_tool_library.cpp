// The tool's parser and its run as a library: the help and usage the tool
// prints against the options its parser declares, --version, and a run
// stopped by its progress function.
#include "cli_fixture.hpp"

#include "cli/run_tool.hpp"
#include "cli/tool_error.hpp"
#include "cli/tool_options.hpp"

namespace cli_test {
namespace {

// The tool's standard output and exit status.
tool_run tool_output(const scratch_dir& dir, const std::string& args)
{
    const std::string out = dir / "stdout.txt";
    const int raw = std::system(("timeout -k 10 60 " + std::string(RASTER_MAPS_TOOL) + " " + args + " > '" + out + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, file_bytes(out)};
}

// Whether `name` stands in `text` as a word of its own: "-q" in "[-q|--quiet]"
// but not in "--quiet" alone.
bool names(const std::string& text, const std::string& name)
{
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        const char before = at == 0 ? ' ' : text[at - 1], after = end == text.size() ? ' ' : text[end];
        if (std::string(" [|,\n").find(before) != std::string::npos && std::string(" ]|,\n").find(after) != std::string::npos)
            return true;
    }
    return false;
}

// Every option the parser declares, for the program and for each map, is
// named in the usage line the tool prints and in the rest of its help.
TEST(RasterMapsCommandLine, HelpAndUsageNameEveryOptionOfTheParser)
{
    const scratch_dir dir;
    const cli::command_line parser;
    std::vector<const CLI::App*> apps = {&parser.app()};
    for (const CLI::App* map : parser.app().get_subcommands([](const CLI::App*) { return true; })) apps.push_back(map);
    ASSERT_EQ(apps.size(), 6u);
    for (const CLI::App* app : apps) {
        const std::string command = app == &parser.app() ? "" : app->get_name() + " ";
        SCOPED_TRACE(command);
        const tool_run help = tool_output(dir, command + "--help");
        ASSERT_EQ(help.status, 0);
        const std::string usage = help.message.substr(0, help.message.find("\n\n"));
        const std::string rest = help.message.substr(usage.size());
        ASSERT_EQ(usage.rfind("Usage: raster-maps " + command, 0), 0u) << help.message;
        for (const CLI::Option* opt : app->get_options()) {
            std::vector<std::string> spellings;
            for (const std::string& s : opt->get_snames()) spellings.push_back("-" + s);
            for (const std::string& l : opt->get_lnames()) spellings.push_back("--" + l);
            if (opt->get_positional()) spellings.push_back(opt->get_name());
            for (const std::string& name : spellings) {
                EXPECT_TRUE(names(usage, name)) << name << " is not in the usage:\n" << usage;
                EXPECT_TRUE(names(rest, name)) << name << " is not in the help:\n" << rest;
            }
        }
        if (app == &parser.app()) {
            for (const CLI::App* map : apps) {
                if (map != app) {
                    EXPECT_TRUE(names(rest, map->get_name())) << map->get_name();
                }
            }
        }
    }
}

// --help among wrong values still gives the help.
TEST(RasterMapsCommandLine, HelpWinsOverBadValues)
{
    const scratch_dir dir;
    const tool_run run = tool_output(dir, "varnok --window 0 --band x --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.message.rfind("Usage: raster-maps varnok ", 0), 0u) << run.message;
}

// Every map computes under exact arithmetic unless --arithmetic plugin asks
// for the plug-ins' bits, and its help says what each gives.
TEST(RasterMapsCommandLine, ArithmeticIsExactUnlessThePluginsAreAskedFor)
{
    const struct {
        std::vector<const char*> args;
        rw::arithmetic want;
    } cases[] = {{{"raster-maps", "marnisa", "--table", "t.csv", "--window", "5", "in.tif", "out.tif"}, rw::arithmetic::exact},
                 {{"raster-maps", "ombrel", "--arithmetic", "plugin", "--table", "t.csv", "--window", "5", "in.tif", "out.tif"},
                  rw::arithmetic::plugin},
                 {{"raster-maps", "varnok", "--arithmetic=exact", "--table", "t.csv", "--window", "5", "in.tif", "out.tif"},
                  rw::arithmetic::exact}};
    for (const auto& c : cases) {
        cli::command_line parser;
        const cli::command got = parser.parse(static_cast<int>(c.args.size()), c.args.data());
        ASSERT_TRUE(got.run);
        EXPECT_EQ(got.run->arithmetic, c.want) << c.args[1];
    }
    const std::vector<const char*> bad = {"raster-maps", "varnok", "--arithmetic", "Exact", "--table", "t.csv",
                                          "--window", "5", "in.tif", "out.tif"};
    cli::command_line parser;
    EXPECT_THROW(parser.parse(static_cast<int>(bad.size()), bad.data()), cli::usage_error);

    const scratch_dir dir;
    const std::string help = tool_output(dir, "sulmet --help").message;
    EXPECT_NE(help.find("exact (default): exact window sums"), std::string::npos) << help;
    EXPECT_NE(help.find("plugin: the plug-ins' arithmetic bit for bit"), std::string::npos) << help;
}

TEST(RasterMapsCommandLine, VersionNamesTheToolAndGdal)
{
    const scratch_dir dir;
    const tool_run run = tool_output(dir, "--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.message, std::string("raster-maps ") + RASTER_MAPS_VERSION + "\n" + GDALVersionInfo("--version") + "\n");
}

// A progress function that asks the run to stop once `stop_at` of it is
// done, and keeps the shares it was told.
struct stopping_progress {
    double stop_at;
    std::vector<double> told;

    static int CPL_STDCALL report(double done, const char*, void* data)
    {
        auto& p = *static_cast<stopping_progress*>(data);
        p.told.push_back(done);
        return done >= p.stop_at ? FALSE : TRUE;
    }
};

// Stopped while it maps (strips of 8 rows) or while it copies the map into
// a COG (the last fifth of its progress), the run throws rw::interrupted and leaves no file behind, the input
// as it was; a progress function that never stops sees the run to its end.
TEST(RasterMapsLibrary, AProgressFunctionThatReturnsFalseStopsTheRun)
{
    const struct {
        const char* format;
        double stop_at;
    } cases[] = {{"GTiff", 0.5}, {"COG", 0.85}, {"GTiff", 2.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.stop_at));
        const scratch_dir dir;
        code_raster raster{120, 60, std::vector<std::int64_t>(120 * 60)};
        for (index_t k = 0; k < 120 * 60; ++k) raster.codes[static_cast<std::size_t>(k)] = k % 7 < 3 ? 11 : 21;
        write_geotiff(dir / "in.tif", raster, GDT_Byte);
        write_text(dir / "t.csv", "11,0.25\n21,0.75\n");
        const std::string input = file_bytes(dir / "in.tif");

        cli::tool_options o;
        o.map = rw::map_kind::sulmet;
        o.table_path = dir / "t.csv";
        o.window = *cli::read_window("5").window;
        o.format = c.format;
        o.strip_rows = 8;
        o.quiet = true;
        o.input = dir / "in.tif";
        o.output = dir / "out.tif";
        stopping_progress progress{c.stop_at, {}};
        if (c.stop_at > 1.0) {
            cli::run_tool(o, stopping_progress::report, &progress);
            EXPECT_EQ(progress.told.back(), 1.0);
            EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.tif", "out.tif", "t.csv"}));
            continue;
        }
        EXPECT_THROW(cli::run_tool(o, stopping_progress::report, &progress), rw::interrupted);
        // Told to stop once, it went no further.
        EXPECT_EQ(std::count_if(progress.told.begin(), progress.told.end(), [&](double d) { return d >= c.stop_at; }), 1);
        EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.tif", "t.csv"}));
        EXPECT_EQ(file_bytes(dir / "in.tif"), input);
    }
}

} // namespace
} // namespace cli_test
