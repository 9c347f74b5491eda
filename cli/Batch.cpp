// Several inputs in one run.
#include "cli/Batch.h"

#include "cli/Commands.h"
#include "raster/Error.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

namespace kelvara::cli {

bool takeJobs(ArgumentReader& args, int& jobs) {
    if (args.option({"-j", "--jobs"})) {
        jobs = static_cast<int>(integerIn(args.name(), args.value(), 1, 16));
        return true;
    }
    // -j4, as make takes it.
    const std::string name = args.isPositional() ? std::string() : args.name();
    if (name.size() > 2 && name.rfind("-j", 0) == 0 &&
        std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        args.flag({name.c_str()})) {
        jobs = static_cast<int>(integerIn("-j", name.substr(2), 1, 16));
        return true;
    }
    return false;
}

void settleOutputs(const std::vector<std::string>& inputs, std::string& output, std::string& outDir,
                   const std::string& needs) {
    if (!output.empty() && !outDir.empty())
        throw UsageError("give -o or --out-dir, not both");
    std::error_code error;
    // With one input -o names the file, as it always has: a folder there is refused.
    if (inputs.size() > 1 && !output.empty() && output != "-" &&
        (output.back() == '/' || std::filesystem::is_directory(output, error))) {
        outDir = output;
        output.clear();
    }
    if (inputs.size() > 1 && !output.empty())
        throw UsageError("-o names one file, and there are " + std::to_string(inputs.size()) +
                         " inputs: give a folder with --out-dir DIR (or -o DIR/)");
    if (output.empty() && outDir.empty())
        throw UsageError(needs + " (or --out-dir DIR)");
}

std::vector<std::string> outputsInFolder(const std::vector<std::string>& inputs, const std::string& folder,
                                         const std::string& extension) {
    std::vector<std::string> outputs;
    std::map<std::string, std::string> taken; // output -> the input it is made of
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const std::string& input : inputs) {
        if (input == "-")
            throw UsageError("standard input (-) has no name to write it under in " + folder +
                             ": convert it alone with -o");
        const std::filesystem::path path(input);
        std::string name = path.stem().string();
        if (name.empty() || name == "." || name == "..")
            name = path.filename().string();
        if (name.empty() || name == "." || name == "..")
            throw UsageError("'" + input + "' names no file");
        const std::string output = prefix + name + extension;
        if (const auto found = taken.find(output); found != taken.end())
            throw UsageError("'" + found->second + "' and '" + input + "' would both be written as " +
                             output);
        taken[output] = input;
        outputs.push_back(output);
    }
    return outputs;
}

void makeFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw Error("Cannot create folder " + folder + ": " + error.message());
}

int worseStatus(int a, int b) {
    auto rank = [](int status) {
        switch (status) {
        case ExitOk:
            return 0;
        case ExitIncomplete:
            return 1;
        case ExitFailure:
            return 2;
        default:
            return 3;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

int runJobs(const std::vector<std::string>& inputs, int jobs,
            const std::function<int(size_t k, const std::string& label, int threads)>& job) {
    const int running = std::clamp<int>(jobs, 1, static_cast<int>(std::max<size_t>(inputs.size(), 1)));
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int threads = running == 1 ? 0 : std::max(1, cores / running);
    std::vector<int> statuses(inputs.size(), ExitOk);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k = next++; k < inputs.size(); k = next++) {
            const std::string& input = inputs[k];
            const std::string label = input == "-" ? "standard input" : input;
            setCurrentInput(input);
            setJobLabel(label);
            try {
                statuses[k] = job(k, label, threads);
            } catch (const UsageError& e) {
                say(e.what());
                statuses[k] = ExitUsage;
            } catch (const FrameSourceError& e) {
                say(frameSourceErrorText(e));
                statuses[k] = ExitFailure;
            } catch (const std::exception& e) {
                say(e.what());
                statuses[k] = ExitFailure;
            } catch (...) {
                say("an unknown error");
                statuses[k] = ExitFailure;
            }
            setJobLabel({});
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < running; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
    int worst = ExitOk;
    for (const int status : statuses)
        worst = worseStatus(worst, status);
    return worst;
}

} // namespace kelvara::cli
