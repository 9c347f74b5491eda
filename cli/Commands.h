// The commands of kelvara-cli and the small argument helpers they share.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvara::cli {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// A mistake in the command line: reported with the command's usage, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Command {
    const char* name;
    const char* usage; // printed for --help and after a usage error
    std::function<int(const std::vector<std::string>&)> run;
};

const std::vector<Command>& commands();

// Commands defined in their own files.
const Command& gifCommandEntry();
const Command& framesCommandEntry();

// Runs a command: --help prints its usage; a UsageError exits 2 with the usage; any other error
// prints its message on standard error and exits 1.
int runCommand(const Command& command, const std::vector<std::string>& args);

// Parses a whole decimal integer; throws UsageError naming the option otherwise.
long long parseInteger(const std::string& text, const std::string& what);

// Parses "A-B" into two whole numbers; UsageError naming the option otherwise.
void parseRange(const std::string& text, const std::string& what, int64_t& a, int64_t& b);
// Parses "WxH" into two whole numbers; UsageError naming the option otherwise.
void parseSize(const std::string& text, const std::string& what, int& width, int& height);

// Writes a file that takes its name only when complete, and never over an existing file unless
// overwriting was asked for.
void writeOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool overwrite);

} // namespace kelvara::cli
