// batch.cpp — see batch.h.
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "tool_common.h"

namespace {

// The outputs of the inputs, or why they cannot all be written.
std::string Outputs(const std::vector<std::string>& inputs, const BatchOptions& b, const char* ext,
                    std::vector<std::string>* outputs)
{
    std::map<std::string, std::string> taken;  // output -> input
    for (const std::string& in : inputs) {
        outputs->push_back(OutputIn(b.outDir, in, ext));
        const auto [at, isNew] = taken.emplace(outputs->back(), in);
        if (!isNew)
            return at->second + " and " + in + " would both be written to " + at->first;
    }
    // An output over another input would change it before it is read (each
    // file's own input is refused where the file is written).
    std::map<std::filesystem::path, std::string> read;  // the input's real name -> as given
    for (const std::string& in : inputs) {
        std::error_code ec;
        const std::filesystem::path real = std::filesystem::weakly_canonical(in, ec);
        if (!ec)
            read.emplace(real, in);
    }
    for (size_t i = 0; i < outputs->size(); ++i) {
        std::error_code ec;
        const auto at = read.find(std::filesystem::weakly_canonical((*outputs)[i], ec));
        if (!ec && at != read.end() && at->second != inputs[i])
            return inputs[i] + " would be written over the input " + at->second;
    }
    return {};
}

// Runs `task` on every input, on `jobs` threads at most (a progress bar only
// on one); each file's exit status.
std::vector<int> RunAll(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, int jobs,
                        const FileTask& task)
{
    std::vector<int> status(inputs.size(), kExitFailed);
    std::atomic<size_t> next{0};
    const size_t workers = std::min<size_t>(size_t(jobs), inputs.size());
    const bool bar = workers == 1 && StderrIsTerminal();
    auto work = [&] {
        for (size_t i; (i = next++) < inputs.size();)
            status[i] = task(inputs[i], outputs[i], bar);
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < workers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    return status;
}

// The batch's exit status: that of its first failed file, else damaged when
// one was; the counts said.
int Summary(const std::vector<int>& status)
{
    int result = kExitOk;
    size_t failed = 0;
    for (int s : status) {
        if (s == kExitOk || s == kExitDamaged) {
            result = result == kExitOk ? s : result;
            continue;
        }
        result = failed++ == 0 ? s : result;
    }
    const size_t done = status.size() - failed;
    Say(std::to_string(done) + (done == 1 ? " file converted, " : " files converted, ") + std::to_string(failed) +
        " failed");
    return result;
}

}  // namespace

int RunFiles(const std::vector<std::string>& inputs, const std::string& out, const BatchOptions& b, const char* ext,
             const FileTask& task)
{
    if (!out.empty())
        return task(inputs.front(), out, StderrIsTerminal());
    std::vector<std::string> outputs;
    const std::string clash = Outputs(inputs, b, ext, &outputs);
    if (!clash.empty())
        return Usage(clash);
    std::error_code ec;
    std::filesystem::create_directories(b.outDir, ec);
    if (ec || !std::filesystem::is_directory(b.outDir)) {
        Say(b.outDir + ": cannot make the directory" + (ec ? ": " + ec.message() : std::string()));
        return kExitOutput;
    }
    return Summary(RunAll(inputs, outputs, b.jobs, task));
}
