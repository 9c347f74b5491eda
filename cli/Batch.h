// Several inputs in one run: each converted with the same options into a folder, as many at once
// as -j says, each failure told on its own line naming its input while the others go on.
#pragma once

#include "cli/Arguments.h"

#include <functional>
#include <string>
#include <vector>

namespace kelvara::cli {

// Takes the current argument if it is -j N, --jobs N or -jN: the conversions run at once, 1..16.
bool takeJobs(ArgumentReader& args, int& jobs);

// Settles where the outputs go: -o FILE for one input; --out-dir DIR for any number, or with
// several inputs -o naming a folder (one that exists, or a name ending in '/'), which then
// becomes DIR. UsageError for -o
// with --out-dir, -o naming a file with several inputs, or neither (needs: "gif needs -o OUT.gif").
void settleOutputs(const std::vector<std::string>& inputs, std::string& output, std::string& outDir,
                   const std::string& needs);

// The name of each input's output in folder: the input's file name without its extension, then
// extension ("clip.mp4" gives "DIR/clip.gif"). UsageError for standard input, which has no name,
// and for two inputs that would be written under one name.
std::vector<std::string> outputsInFolder(const std::vector<std::string>& inputs, const std::string& folder,
                                         const std::string& extension);

// Makes the folder and those above it; Error naming it and the reason when it cannot.
void makeFolder(const std::string& folder);

// Runs job(k, label, threads) for each input k, jobs of them at once. Every line a job writes
// names its input (label); a job's error is told on its own line and the others go on. threads
// is the worker threads each job may take (0 for every core, with one job at a time). Returns
// the worst status: a command-line mistake (2), then an error (1), then an incomplete output (3).
int runJobs(const std::vector<std::string>& inputs, int jobs,
            const std::function<int(size_t k, const std::string& label, int threads)>& job);

// The order of badness of exit statuses, for the worst of several.
int worseStatus(int a, int b);

} // namespace kelvara::cli
