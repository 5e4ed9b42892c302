// run_program.h — a program run as a user runs it, its output captured:
//   ProgramResult r = RunProgram(exe, {"info", path}, dir);
// POSIX runs it through the shell; Windows spawns it directly, each argument
// quoted, with standard output and error sent to files.
#pragma once

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tiftest {

struct ProgramResult {
    int status;  // exit status; -1 when it did not run or did not exit
    std::string out, err;
};

#if defined(_WIN32)
// Runs with descriptors 1 and 2 pointing at the files for the time of the run.
inline int SpawnRedirected(const std::string& exe, const std::vector<std::string>& args, const std::string& outPath,
                           const std::string& errPath)
{
    std::vector<std::string> quoted{"\"" + exe + "\""};
    for (const auto& a : args)
        quoted.push_back("\"" + a + "\"");
    std::vector<const char*> argv;
    for (const auto& q : quoted)
        argv.push_back(q.c_str());
    argv.push_back(nullptr);
    // Text mode, as a command interpreter's redirection leaves them: the runtime
    // hands each descriptor's mode down to the child, which must itself switch
    // to binary where it writes binary data.
    const int mode = _O_CREAT | _O_TRUNC | _O_WRONLY | _O_TEXT;
    const int out = _sopen(outPath.c_str(), mode, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    const int err = _sopen(errPath.c_str(), mode, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = _dup(1), savedErr = _dup(2);
    _dup2(out, 1);
    _dup2(err, 2);
    const intptr_t status = _spawnv(_P_WAIT, exe.c_str(), argv.data());
    _dup2(savedOut, 1);
    _dup2(savedErr, 2);
    for (int fd : {out, err, savedOut, savedErr})
        _close(fd);
    return static_cast<int>(status);
}
#endif

inline ProgramResult RunProgram(const std::string& exe, const std::vector<std::string>& args, const TempDir& dir)
{
    const std::string outPath = dir.Path("stdout.txt"), errPath = dir.Path("stderr.txt");
#if defined(_WIN32)
    const int status = SpawnRedirected(exe, args, outPath, errPath);
#else
    std::string cmd = "'" + exe + "'";
    for (const auto& a : args)
        cmd += " '" + a + "'";
    const int rc = std::system((cmd + " >'" + outPath + "' 2>'" + errPath + "'").c_str());
    const int status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
    const std::vector<uint8_t> out = ReadFileBytes(outPath), err = ReadFileBytes(errPath);
    std::error_code ec;
    std::filesystem::remove(outPath, ec);
    std::filesystem::remove(errPath, ec);
    return {status, std::string(out.begin(), out.end()), std::string(err.begin(), err.end())};
}

// The tool beside this test program's build: on Windows found from the
// program's own place (tools\vxtiff.exe next to tests\), elsewhere as built.
inline std::string ToolPath(const char* built)
{
#if defined(_WIN32)
    (void)built;
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return "";
    const std::filesystem::path tool = std::filesystem::path(self).parent_path().parent_path() / "tools" / "vxtiff.exe";
    std::error_code ec;
    return std::filesystem::exists(tool, ec) ? tool.string() : "";
#else
    return built;
#endif
}

}  // namespace tiftest
