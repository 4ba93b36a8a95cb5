// raster-maps and the files around its output: what it refuses to write (a
// file of the input under any name, anything but a regular file, a driver or
// option that would change the map), what a failure, a signal or a kill
// leaves, and what happens when another run writes the same output.
#include "../address_sanitizer.hpp"
#include "cli_fixture.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <algorithm>
#include <cstring>

namespace cli_test {
namespace {

const char* const table_csv = "code,value\n11,0.1\n21,0.9\n41,0.6\n52,0.3\n90,0.05\n";

code_raster patterned(index_t M, index_t N)
{
    const std::int64_t codes[] = {11, 21, 41, 52, 90};
    code_raster r{M, N, std::vector<std::int64_t>(static_cast<std::size_t>(M * N))};
    for (index_t i = 0; i < M; ++i)
        for (index_t j = 0; j < N; ++j) r.at(i, j) = codes[(i * 7 + j * 3 + i * j) % 5];
    return r;
}

// A scratch directory holding the input in.tif and the table t.csv.
struct workspace {
    explicit workspace(index_t M = 60, index_t N = 50)
    {
        write_geotiff(in, patterned(M, N), GDT_Byte);
        write_text(dir / "t.csv", table_csv);
        in_bytes = file_bytes(in);
    }
    scratch_dir dir;
    const std::string in = dir / "in.tif";
    const std::string table = " --table " + dir / "t.csv" + " ";
    std::string in_bytes;
};

// A refusal before any cell is read: status 1 and one line of error, with
// no progress bar before it (the runs here are not -q).
void expect_refused(const tool_run& run, const std::string& says)
{
    EXPECT_EQ(run.status, 1) << run.message;
    EXPECT_EQ(run.message.rfind("raster-maps: error: ", 0), 0u) << run.message;
    EXPECT_NE(run.message.find(says), std::string::npos) << run.message;
    EXPECT_EQ(std::count(run.message.begin(), run.message.end(), '\n'), 1) << run.message;
}

pid_t dead_pid()
{
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

std::vector<std::string> with(std::vector<std::string> names, const std::vector<std::string>& more)
{
    names.insert(names.end(), more.begin(), more.end());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(RasterMapsOutput, NeverAFileOfTheInputWhateverNamesIt)
{
    workspace w;
    fs::create_symlink("in.tif", w.dir / "link.tif");
    fs::create_hard_link(w.in, w.dir / "hard.tif");
    fs::create_directory(w.dir / "sub");
    write_text(w.dir / "in.tif.aux.xml", "<PAMDataset></PAMDataset>\n");
    // An ENVI input: data file and header.
    GDALDataset* tif = GDALDataset::Open(w.in.c_str(), GDAL_OF_RASTER);
    ASSERT_NE(tif, nullptr);
    GDALClose(GetGDALDriverManager()->GetDriverByName("ENVI")->CreateCopy((w.dir / "in.envi").c_str(), tif, FALSE,
                                                                          nullptr, nullptr, nullptr));
    GDALClose(tif);
    const std::vector<std::string> files = w.dir.files();
    std::map<std::string, std::string> bytes;
    for (const std::string& f : files)
        if (fs::is_regular_file(w.dir / f)) bytes[f] = file_bytes(w.dir / f);

    const std::string v = "varnok" + w.table + "--window 5 ";
    const struct {
        std::string args, says, wrapper;
    } cases[] = {
        {v + "--overwrite " + w.in + " " + w.in, "is the input", ""},
        {v + w.in + " " + w.in, "is the input", ""},
        {v + "--overwrite " + w.in + " " + w.dir / "link.tif", "is the input", ""},
        {v + "--overwrite " + w.in + " " + w.dir / "hard.tif", "is the input", ""},
        {"varnok --table t.csv --window 5 --overwrite in.tif sub/../in.tif", "is the input",
         "cd '" + w.dir / "" + "' && timeout -k 10 300 "},
        {v + "--overwrite " + w.in + " " + w.dir / "in.tif.aux.xml", "a file of the input", ""},
        {v + "--overwrite " + w.dir / "in.envi " + w.dir / "in.hdr", "a file of the input", ""},
        // The ENVI output in.bin would write its header to in.hdr.
        {v + "--overwrite -of ENVI " + w.dir / "in.envi " + w.dir / "in.bin", "in.hdr, a file of the input", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        expect_refused(run_tool(w.dir, c.args, c.wrapper), c.says);
        EXPECT_EQ(w.dir.files(), files);
        for (const auto& [f, b] : bytes) EXPECT_EQ(file_bytes(w.dir / f), b) << f;
    }
}

// Devices, fifos, directories and sockets are never written or replaced,
// --overwrite or not, and the refusal comes before any computation.
TEST(RasterMapsOutput, OnlyRegularFilesAreWrittenOrReplaced)
{
    workspace w;
    ASSERT_EQ(mkfifo((w.dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(w.dir / "directory");
    fs::create_symlink("fifo", w.dir / "link-to-fifo");
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (w.dir / "socket").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::vector<std::pair<std::string, std::string>> outputs = {{"fifo", "is a fifo"},
                                                                {"link-to-fifo", "is a fifo"},
                                                                {"directory", "is a directory"},
                                                                {"directory/", "names a directory"},
                                                                {"socket", "is a socket"}};
    // A device of its own (as /dev/null is), where the tests may make one.
    if (mknod((w.dir / "device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        outputs.emplace_back("device", "is a character device");
    const std::vector<std::string> files = w.dir.files();
    for (const auto& [name, says] : outputs)
        for (const char* overwrite : {"", "--overwrite "}) {
            SCOPED_TRACE(name + " " + overwrite);
            expect_refused(run_tool(w.dir, "varnok" + w.table + "--window 5 " + overwrite + w.in + " " + w.dir / name),
                           says);
            EXPECT_EQ(w.dir.files(), files);
        }
    struct stat st;
    ASSERT_EQ(lstat((w.dir / "fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(lstat((w.dir / "socket").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_TRUE(fs::is_empty(w.dir / "directory"));
    if (lstat((w.dir / "device").c_str(), &st) == 0) {
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
    EXPECT_EQ(file_bytes(w.in), w.in_bytes);
    close(sock);
}

// Drivers, paths and options that would write another map than the one
// computed, or none at all, are refused before computing, naming what
// works.
TEST(RasterMapsOutput, DriversAndOptionsThatWouldChangeOrLoseTheMap)
{
    workspace w;
    const std::string v = "varnok" + w.table + "--window 5 ";
    const struct {
        std::string args, says;
    } cases[] = {
        {"-of PNG " + w.in + " " + w.dir / "out.png", "use -of GTiff or -of COG"},
        {"-of GPKG " + w.in + " " + w.dir / "out.gpkg", "--type Float32 works"},
        {"-of MEM " + w.in + " " + w.dir / "out.mem", "writes no file"},
        {w.in + " /vsistdout/", "/vsistdout/ is a GDAL virtual file"},
        {w.in + " /vsimem/out.tif", "/vsimem/out.tif is a GDAL virtual file"},
        {"--co COMPRESS=NOPE " + w.in + " " + w.dir / "out.tif", "'NOPE' is an unexpected value for COMPRESS"},
        {"--co BADOPT=1 " + w.in + " " + w.dir / "out.tif", "GTiff does not support creation option BADOPT"},
        {"-of COG --co BADOPT=1 " + w.in + " " + w.dir / "out.tif", "COG does not support creation option BADOPT"},
        {"-of ENVI --co INTERLEAVE=BAD " + w.in + " " + w.dir / "out.envi", "for INTERLEAVE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        expect_refused(run_tool(w.dir, v + c.args), c.says);
        EXPECT_EQ(w.dir.files(), (std::vector<std::string>{"in.tif", "t.csv"}));
    }
    // A thread count of GDAL's own is cut as --threads is.
    const auto run = run_tool(w.dir, v + "-q -of COG --co NUM_THREADS=100000 " + w.in + " " + w.dir / "out.tif");
    EXPECT_EQ(run.status, 0) << run.message;
    EXPECT_EQ(file_bytes(w.in), w.in_bytes);
}

// -q silences the progress bar, never GDAL's warnings.
TEST(RasterMapsOutput, QuietKeepsGdalWarnings)
{
    workspace w;
    const auto run =
        run_tool(w.dir, "varnok -q" + w.table + "--window 5 --co NBITS=16 " + w.in + " " + w.dir / "out.tif");
    EXPECT_EQ(run.status, 0) << run.message;
    EXPECT_NE(run.message.find("raster-maps: warning: "), std::string::npos) << run.message;
    EXPECT_NE(run.message.find("NBITS"), std::string::npos) << run.message;
    EXPECT_EQ(run.message.find("done"), std::string::npos) << run.message;
}

// ENVI writes a data file, a header and an .aux.xml: a failure removes every
// one, and a header name that is taken stops the run before computing.
TEST(RasterMapsOutput, EveryFileOfAMultiFileDriver)
{
    workspace w;
    const std::string v = "varnok" + w.table + "--window 5 -of ENVI ";
    const std::string out = w.dir / "out.envi";
    code_raster late = patterned(70, 60);
    late.at(55, 33) = 77;
    write_geotiff(w.dir / "late.tif", late, GDT_Byte);
    auto run = run_tool(w.dir, v + "--strip-rows 8 " + w.dir / "late.tif " + out);
    EXPECT_EQ(run.status, 1) << run.message;
    EXPECT_NE(run.message.find("code 77 at row 55"), std::string::npos) << run.message;
    EXPECT_EQ(w.dir.files(), (std::vector<std::string>{"in.tif", "late.tif", "t.csv"}));

    write_text(w.dir / "out.hdr", "the header of another raster");
    expect_refused(run_tool(w.dir, v + w.in + " " + out), "the output's file " + w.dir / "out.hdr" + " exists");
    EXPECT_EQ(file_bytes(w.dir / "out.hdr"), "the header of another raster");
    fs::remove(w.dir / "out.hdr");
    fs::create_directory(w.dir / "out.hdr");
    expect_refused(run_tool(w.dir, v + "--overwrite " + w.in + " " + out), "out.hdr is a directory");
    EXPECT_EQ(w.dir.files(), (std::vector<std::string>{"in.tif", "late.tif", "out.hdr", "t.csv"}));
    fs::remove(w.dir / "out.hdr");

    run = run_tool(w.dir, v + "-q " + w.in + " " + out);
    ASSERT_EQ(run.status, 0) << run.message;
    EXPECT_EQ(w.dir.files(), (std::vector<std::string>{"in.tif", "late.tif", "out.envi", "out.envi.aux.xml",
                                                       "out.hdr", "t.csv"}));
    EXPECT_EQ(read_output(out).M, 60);
    // An old GTiff's .aux.xml (statistics of the old map) goes with it.
    ASSERT_EQ(run_tool(w.dir, "varnok -q" + w.table + "--window 5 " + w.in + " " + w.dir / "out.tif").status, 0);
    write_text(w.dir / "out.tif.aux.xml", "<PAMDataset><Metadata><MDI key=\"OLD\">1</MDI></Metadata></PAMDataset>\n");
    run = run_tool(w.dir, "varnok -q" + w.table + "--window 7 --overwrite " + w.in + " " + w.dir / "out.tif");
    ASSERT_EQ(run.status, 0) << run.message;
    EXPECT_FALSE(fs::exists(w.dir / "out.tif.aux.xml"));
    EXPECT_EQ(file_bytes(w.in), w.in_bytes);
}

// Two runs writing the same new output: the one that finishes second fails
// and leaves the first one's map. The second is held at its first message
// (the progress bar, written once its output is checked and created) by a
// full pipe, so the order is certain.
TEST(RasterMapsOutput, AnOutputThatAppearsDuringTheRunIsNotReplaced)
{
    workspace w;
    const std::string out = w.dir / "out.tif";
    background_run second("varnok" + w.table + "--window 5 " + w.in + " " + out, true);
    const std::string work_dir = w.dir / (".out.tif.incomplete-" + std::to_string(second.pid()));
    ASSERT_TRUE(wait_until([&] { return fs::exists(work_dir); }));
    const tool_run first_run = run_tool(w.dir, "varnok -q" + w.table + "--window 7 " + w.in + " " + out);
    ASSERT_EQ(first_run.status, 0) << first_run.message;
    const std::string first = file_bytes(out);
    const tool_run run = second.finish();
    EXPECT_EQ(run.status, 1) << run.message;
    EXPECT_NE(run.message.find("raster-maps: error: the output " + out +
                               " appeared while the map ran; use --overwrite to replace it\n"),
              std::string::npos)
        << run.message;
    EXPECT_EQ(file_bytes(out), first);
    EXPECT_EQ(w.dir.files(), (std::vector<std::string>{"in.tif", "out.tif", "t.csv"}));
    EXPECT_EQ(file_bytes(w.in), w.in_bytes);
}

// A signal during a run that would take hours: the shell's status for it
// (128 + its number), one message, every temporary file removed, an old
// output left as it was. The signal is sent once the progress bar has
// started.
TEST(RasterMapsOutput, SignalsEndTheRunWithTheirStatus)
{
    const struct {
        int signal, status;
        const char* format;
        std::string says;
    } cases[] = {
        {SIGINT, 130, "GTiff", "raster-maps: interrupted; no output was written\n"},
        {SIGTERM, 143, "ENVI", "raster-maps: terminated; no output was written\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        workspace w(64, 64);
        write_text(w.dir / "out", "keep me");
        background_run run("dravix" + w.table + "--window 21 --probes-per-cell 100000000 --seed 1 --overwrite -of " +
                           c.format + " " + w.in + " " + w.dir / "out");
        ASSERT_TRUE(run.wait_for("raster-maps: seed 1\n0"));
        run.signal(c.signal);
        const tool_run ended = run.finish();
        EXPECT_EQ(ended.status, c.status) << ended.message;
        EXPECT_TRUE(ended.message.ends_with(c.says)) << ended.message;
        EXPECT_EQ(w.dir.files(), (std::vector<std::string>{"in.tif", "out", "t.csv"}));
        EXPECT_EQ(file_bytes(w.dir / "out"), "keep me");
        EXPECT_EQ(file_bytes(w.in), w.in_bytes);
    }
}

// A run killed outright leaves its hidden work directory; the next run
// writing the same output removes such directories of processes that no
// longer exist, and nothing else.
TEST(RasterMapsOutput, WorkLeftByKilledRunsIsRemovedByTheNext)
{
    workspace w(64, 64);
    const std::string out = w.dir / "out.tif", prefix = ".out.tif.incomplete-";
    std::string killed_dir;
    {
        background_run killed("dravix" + w.table + "--window 21 --probes-per-cell 100000000 " + w.in + " " + out);
        killed_dir = prefix + std::to_string(killed.pid());
        ASSERT_TRUE(wait_until([&] { return fs::exists(w.dir / killed_dir); }));
        killed.signal(SIGKILL);
        EXPECT_EQ(killed.finish().status, -SIGKILL);
    }
    EXPECT_TRUE(fs::is_directory(w.dir / killed_dir));

    const std::string dead = std::to_string(dead_pid()), live = std::to_string(getpid());
    const std::string stale = prefix + dead;
    fs::create_directory(w.dir / stale);
    write_text(w.dir / (stale + "/out.tif"), "stale");
    write_text(w.dir / (stale + "/out.tif.aux.xml"), "stale");
    // A live process's, and names that only look like a work directory.
    for (const std::string& name : {prefix + live, prefix + dead + "x", ".other.tif.incomplete-" + dead,
                                     "out.tif.incomplete-" + dead, prefix + dead + ".tif"}) {
        fs::create_directory(w.dir / name);
        write_text(w.dir / (name + "/out.tif"), "keep");
    }
    write_text(w.dir / (prefix + std::to_string(dead_pid())), "a file, not a directory");
    fs::create_directory(w.dir / "elsewhere");
    write_text(w.dir / "elsewhere/out.tif", "keep");
    fs::create_directory_symlink("elsewhere", w.dir / (prefix + std::to_string(dead_pid())));
    const std::vector<std::string> before = w.dir.files();

    const auto run = run_tool(w.dir, "varnok" + w.table + "--window 5 " + w.in + " " + out);
    ASSERT_EQ(run.status, 0) << run.message;
    EXPECT_NE(run.message.find("removed " + w.dir / killed_dir), std::string::npos) << run.message;
    std::vector<std::string> after = before;
    std::erase_if(after, [&](const std::string& n) { return n == killed_dir || n == stale; });
    EXPECT_EQ(w.dir.files(), with(after, {"out.tif"}));
    EXPECT_EQ(file_bytes(w.dir / "elsewhere/out.tif"), "keep");
    EXPECT_EQ(file_bytes(w.dir / (prefix + live + "/out.tif")), "keep");
    EXPECT_EQ(file_bytes(w.in), w.in_bytes);
}

// Under a capped address space with huge thread stacks only a few threads
// can start. Asking for 8 ends the run with a message about threads and
// nothing left; a run on one thread must not have GDAL's compression ask
// for a thread per core either (GDAL hangs when only some of its threads
// start).
TEST(RasterMapsOutput, ThreadsTheSystemRefuses)
{
    if (under_address_sanitizer) GTEST_SKIP() << "the address space cannot be capped";
    workspace w(1000, 1000);
    const std::string capped = "ulimit -s 4000000 && ulimit -v 6000000 && ";
    const std::string files = w.in + " " + w.dir / "out.tif";
    auto run = run_tool(w.dir, "varnok -q --threads 8" + w.table + "--window 5 " + files,
                        capped + "timeout -k 10 120 ");
    EXPECT_EQ(run.status, 1) << run.message;
    EXPECT_NE(run.message.find("raster-maps: error: cannot start thread"), std::string::npos) << run.message;
    EXPECT_NE(run.message.find("ask for fewer threads"), std::string::npos) << run.message;
    EXPECT_EQ(w.dir.files(), (std::vector<std::string>{"in.tif", "t.csv"}));
    EXPECT_EQ(file_bytes(w.in), w.in_bytes);

    run = run_tool(w.dir, "varnok -q" + w.table + "--window 5 " + files,
                   capped + "RASTER_MAPS_THREADS=1 timeout -k 10 120 ");
    EXPECT_EQ(run.status, 0) << run.message;
    EXPECT_EQ(file_bytes(w.in), w.in_bytes);
}

} // namespace
} // namespace cli_test
