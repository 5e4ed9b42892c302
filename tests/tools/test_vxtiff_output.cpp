// What every command does with its output, run as a user runs the tool: OUT
// of every kind (new, existing, in a directory the user cannot write, a
// symbolic or hard link, a FIFO, a device, standard output, on a full disk),
// OUT as an input, an interrupt, and the writer an extension names.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/tool_run.h"

namespace {

using namespace tiftest;
namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Command {
    std::vector<std::string> args;  // IN and OUT stand for the files; split's OUT is PREFIX-001.tif
    const char* ext;                // OUT's ending
};
const Command kCommands[] = {
    {{"topng", "IN", "OUT"}, ".png"},           {{"tobmp", "IN", "OUT"}, ".bmp"},
    {{"convert", "IN", "OUT"}, ".tif"},         {{"rotate", "IN", "OUT", "180"}, ".tif"},
    {{"merge", "IN", "IN", "OUT"}, ".tif"},     {{"split", "IN", "OUT"}, "-001.tif"},
};

std::vector<std::string> Args(const Command& c, const std::string& in, const std::string& out)
{
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        a = a == "IN" ? in : a != "OUT" ? a : out.substr(0, out.size() - (c.args[0] == "split" ? 8 : 0));
    return args;
}

// The tool in a child process: as user `uid` (-1: as is), its files limited
// to `fsize` bytes (0: no limit; SIGXFSZ ignored, so the write fails), with
// $TMPDIR at `tmp` ("" as is).
ToolResult Child(const TempDir& dir, const std::vector<std::string>& args, int uid = -1, rlim_t fsize = 0,
                 const std::string& tmp = "")
{
    const std::string outPath = dir.Path("stdout.txt"), errPath = dir.Path("stderr.txt");
    const int out = ::open(outPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0666);
    const int err = ::open(errPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0666);
    std::vector<char*> argv = {const_cast<char*>(VXTIFF_TOOL)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1), dup2(err, 2);
        const rlimit limit = {fsize, fsize};
        if (fsize != 0 && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0))
            _exit(125);
        if (uid >= 0 && (setgid(gid_t(uid)) != 0 || setuid(uid_t(uid)) != 0 || access(dir.path().c_str(), R_OK | X_OK) != 0))
            _exit(125);
        if (!tmp.empty())
            setenv("TMPDIR", tmp.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(125);
    }
    close(out), close(err);
    int status = 0;
    waitpid(pid, &status, 0);
    const Bytes o = ReadFileBytes(outPath), e = ReadFileBytes(errPath);
    fs::remove(outPath), fs::remove(errPath);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
}

// Names of files in `dir` (recursively) not `known`.
std::vector<std::string> Stray(const std::string& dir, const std::vector<std::string>& known)
{
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (!e.is_directory() && std::find(known.begin(), known.end(), name) == known.end())
            found.push_back(name);
    }
    return found;
}

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(VXTIFF_TOOL).empty())
            GTEST_SKIP() << "the tool is not built";
        // Rows of noise: every output far larger than a full disk's room.
        LibtiffPage s = Shape(1728, 400, 1, 1, 0);
        s.xResolution = 200, s.yResolution = 200, s.resolutionUnit = 2;
        in = dir.Path("in.tif");
        std::vector<Bytes> rows(s.height, Bytes(s.RowBytes()));
        std::mt19937 noise(1);
        for (Bytes& row : rows)
            std::generate(row.begin(), row.end(), [&] { return uint8_t(noise()); });
        ASSERT_TRUE(WriteLibtiff(in, s, rows));
        chmod(dir.path().c_str(), 0755);  // readable by the user a child becomes
    }

    // Makes OUT of the kind: the name to give the tool; *skip set when this
    // system cannot make it.
    std::string Make(const std::string& kind, const std::string& ext, std::string* skip);

    TempDir dir;
    std::string in;
    const Bytes old = {'o', 'l', 'd'};
};

std::string OutputTest::Make(const std::string& kind, const std::string& ext, std::string* skip)
{
    const std::string name = (kind == "read-only dir" ? "ro/out" : kind.rfind("full", 0) == 0 ? "full/out" : "out") + ext;
    const std::string out = dir.Path(name);
    if (kind != "new" && kind != "symlink" && kind != "fifo" && kind != "device" && kind != "stdout")
        dir.Write(name, old);
    if (kind == "existing" || kind == "read-only dir") {
        chmod(out.c_str(), 0640);
        chmod(dir.Path("ro").c_str(), geteuid() == 0 ? 0755 : 0555);  // root: the tool runs as nobody
        if (geteuid() == 0 && chown(out.c_str(), 65534, 65534) != 0)
            *skip = "chown refused";
    } else if (kind == "symlink") {
        dir.Write("target", old);
        fs::create_symlink("target", out);
    } else if (kind.find("hard link") != std::string::npos) {
        fs::create_hard_link(out, dir.Path(kind == "hard link" ? "other" : "full/other"));
    } else if (kind == "fifo") {
        mkfifo(out.c_str(), 0644);
    } else if (kind == "device") {
        // A null device of our own: writable only where the file system allows devices.
        const int fd = geteuid() == 0 && mknod(out.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0
                           ? ::open(out.c_str(), O_WRONLY) : -1;
        *skip = fd == -1 ? "no device can be made here" : "";
        close(fd);
    }
    return kind == "stdout" ? "-" : out;
}

// Every kind of OUT for every command: what OUT is afterwards, no stray file.
// A full disk is a small file system where root may mount one, else a file
// size limit.
TEST_F(OutputTest, EveryKindOfOutputForEveryCommand)
{
    const std::string full = dir.Path("full");
    fs::create_directory(full), fs::create_directory(dir.Path("ro"));
    const bool mounted = geteuid() == 0 && mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (mounted)
        dir.Write("full/filler", Bytes(40 << 10, 0));  // 24 KiB left
    const mode_t mask = umask(0);
    umask(mask);
    const char* kinds[] = {"new",    "existing", "symlink",       "hard link", "fifo",
                           "device", "stdout",   "read-only dir", "full disk", "full disk, hard link"};
    for (const Command& c : kCommands) {
        const std::string ref = dir.Path("ref") + c.ext;
        ASSERT_EQ(Tool(dir, Args(c, in, ref)).status, 0) << c.args[0];
        for (const std::string kind : kinds) {
            const std::string where = c.args[0] + ", " + kind;
            std::string skip;
            const std::string out = Make(kind, c.ext, &skip);
            const bool isFull = kind.rfind("full", 0) == 0;
            if (!skip.empty() || (kind == "stdout" && c.args[0] == "split")) {
                fs::remove(out);
                continue;
            }
            Bytes fifo;
            std::thread reader;
            if (kind == "fifo")
                reader = std::thread([&] { fifo = ReadFileBytes(out); });
            const int uid = kind == "read-only dir" && geteuid() == 0 ? 65534 : -1;
            const ToolResult r = Child(dir, Args(c, in, out), uid, isFull && !mounted ? 24 << 10 : 0, isFull ? full : "");
            if (kind == "fifo") {
                close(::open(out.c_str(), O_WRONLY | O_NONBLOCK));  // the reader ends even if the tool never wrote
                reader.join();
            }
            if (r.status == 125)
                continue;  // the tool cannot run as nobody here
            struct stat st = {};
            lstat(out.c_str(), &st);
            EXPECT_EQ(r.status, isFull ? 4 : 0) << where << ": " << r.err;
            EXPECT_TRUE(!isFull || Has(r.err, mounted ? "No space left on device" : "File too large")) << r.err;
            EXPECT_EQ(Has(r.err, "overwritten in place"), kind == "read-only dir") << where << ": " << r.err;
            const Bytes got = kind == "symlink"     ? ReadFileBytes(dir.Path("target"))
                              : kind == "hard link" ? ReadFileBytes(dir.Path("other"))
                              : kind == "fifo"      ? fifo
                              : kind == "stdout"    ? Bytes(r.out.begin(), r.out.end())
                                                    : ReadFileBytes(out);
            EXPECT_TRUE(kind == "device" || got == (isFull ? old : ReadFileBytes(ref))) << where;
            if (kind == "new" || kind == "existing" || kind == "read-only dir") {
                EXPECT_EQ(st.st_mode & 07777, kind == "new" ? 0666 & ~mask : 0640) << where;
                EXPECT_EQ(st.st_uid, kind != "new" && geteuid() == 0 ? 65534u : geteuid()) << where;
            }
            EXPECT_TRUE(kind == "symlink" ? S_ISLNK(st.st_mode) : kind == "fifo" ? S_ISFIFO(st.st_mode)
                        : kind == "device" ? S_ISCHR(st.st_mode) : kind == "stdout" || S_ISREG(st.st_mode)) << where;
            const std::string other = dir.Path(isFull ? "full/other" : "other");
            EXPECT_TRUE(kind.find("hard link") == std::string::npos || fs::equivalent(out, other)) << where;
            chmod(dir.Path("ro").c_str(), 0755);
            for (const std::string& name : {dir.Path("target"), other, out})
                fs::remove(name);
            EXPECT_EQ(Stray(dir.path(), {"in.tif", "ref" + std::string(c.ext), "filler"}), std::vector<std::string>{})
                << where;
        }
        fs::remove(ref);
    }
    if (mounted)
        umount(full.c_str());
}

// OUT the input itself, through a symbolic link or a hard link: refused for
// every command, the input intact.
TEST_F(OutputTest, OutputThatIsTheInputIsRefused)
{
    const Bytes bytes = ReadFileBytes(in);
    for (const Command& c : kCommands) {
        const std::string same = dir.Write(c.args[0] + "-same" + c.ext, bytes);
        fs::create_symlink(same, dir.Path(c.args[0] + "-sym") + c.ext);
        fs::create_hard_link(same, dir.Path(c.args[0] + "-hard") + c.ext);
        for (const char* out : {"-same", "-sym", "-hard"}) {
            const ToolResult r = Tool(dir, Args(c, same, dir.Path(c.args[0] + out) + c.ext));
            EXPECT_EQ(r.status, 1) << c.args[0] << out << ": " << r.err;
            EXPECT_TRUE(Has(r.err, "same file")) << r.err;
            EXPECT_EQ(ReadFileBytes(same), bytes) << c.args[0] << out;
        }
    }
    // A batch output over another input of the batch.
    fs::create_directory(dir.Path("b"));
    dir.Write("b/in.tif", bytes);
    const ToolResult r = Tool(dir, {"convert", in, dir.Path("b/in.tif"), "--out-dir", dir.Path("b")});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(ReadFileBytes(dir.Path("b/in.tif")), bytes);
}

// An interrupt while the output is copied to a pipe nobody reads: the
// temporary file in $TMPDIR removed, the tool ended by the signal.
TEST_F(OutputTest, InterruptRemovesTheTemporaryFile)
{
    const std::string tmp = dir.Path("tmp");
    fs::create_directory(tmp);
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 1);
            for (int s : {SIGTERM, SIGHUP, SIGINT})
                signal(s, SIG_DFL);
            setenv("TMPDIR", tmp.c_str(), 1);
            execl(VXTIFF_TOOL, VXTIFF_TOOL, "convert", in.c_str(), "-", "--compression=none", (char*)nullptr);
            _exit(125);
        }
        close(pipeFds[1]);
        // The tool waits on the full pipe with its temporary file made.
        for (int i = 0; i < 1000 && fs::is_empty(tmp); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(fs::is_empty(tmp));
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0), close(pipeFds[0]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
        EXPECT_TRUE(fs::is_empty(tmp)) << sig;
    }
}

// The writer an extension names, refused where the command does not write it.
TEST_F(OutputTest, ExtensionChoosesOrRefusesTheWriter)
{
    LibtiffPage s = Shape(64, 32, 1, 1, 0);
    s.xResolution = 200, s.yResolution = 200, s.resolutionUnit = 2;
    const std::string two = dir.Path("two.tif");
    ASSERT_TRUE(WriteLibtiffPages(two, {s, s}, {Pattern(s), Pattern(s, 7)}));
    ASSERT_EQ(Tool(dir, {"topng", two, dir.Path("ref2.png"), "--page", "2"}).status, 0);
    ASSERT_EQ(Tool(dir, {"tobmp", two, dir.Path("ref2.bmp"), "--page", "2"}).status, 0);
    ASSERT_EQ(Tool(dir, {"topdf", two, dir.Path("ref2.pdf"), "--page", "2"}).status, 0);
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;      // in the message
        const char* sameAs;    // the output's reference, or null: none made
    } cases[] = {
        {{"convert", two, "o.PNG", "--page", "2"}, 0, "", "ref2.png"},
        {{"convert", two, "o.bmp", "--page=2"}, 0, "", "ref2.bmp"},
        {{"convert", two, "o.png"}, 2, "PNG holds one page", nullptr},
        {{"convert", two, "o.png", "--page=2", "--compression=lzw"}, 2, "for TIFF, not PNG", nullptr},
        {{"convert", two, "o.pdf", "--page", "2"}, 0, "", "ref2.pdf"},
        {{"topdf", two, "o.tif"}, 2, "topdf writes PDF, not TIFF; vxtiff convert", nullptr},
        {{"convert", two, "o.jpg"}, 2, "does not write JPEG", nullptr},
        {{"rotate", two, "o.png", "90"}, 2, "rotate writes TIFF, not PNG; vxtiff topng", nullptr},
        {{"merge", two, "o.bmp"}, 2, "merge writes TIFF, not BMP; vxtiff tobmp", nullptr},
        {{"tobmp", two, "o.png"}, 2, "tobmp writes BMP, not PNG; vxtiff topng", nullptr},
        {{"topng", two, "o.bmp"}, 2, "vxtiff tobmp", nullptr},
        {{"topng", two, "o.TIFF"}, 2, "topng writes PNG, not TIFF; vxtiff convert", nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args[2] = dir.Path(args[2]);
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, c.status) << args[2] << ": " << r.err;
        EXPECT_TRUE(Has(r.err, c.says)) << r.err;
        EXPECT_EQ(ReadFileBytes(args[2]), c.sameAs ? ReadFileBytes(dir.Path(c.sameAs)) : Bytes{}) << args[2];
        fs::remove(args[2]);
    }
}

}  // namespace
