// The commands of kelvara-cli, the exit statuses they share and the runner that turns their
// errors into messages.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvara::cli {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;
// The output was written, but holds less than was asked: the video ended early or a frame could
// not be read.
inline constexpr int ExitIncomplete = 3;

// A mistake in the command line: reported with a pointer to the command's help, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Command {
    const char* name;
    const char* synopsis; // the arguments, for the list of commands: "VIDEO -o OUT.gif [options]"
    const char* summary;  // one line: what the command does
    std::string usage;    // printed for --help
    std::function<int(const std::vector<std::string>&)> run;
};

// Every command, in the order the help lists them.
const std::vector<Command>& commands();

// Commands defined in their own files.
const Command& infoCommandEntry();
const Command& frameCommandEntry();
const Command& gifCommandEntry();
const Command& framesCommandEntry();
const Command& writeCommandEntry();
const Command& animateCommandEntry();
const Command& transitionCommandEntry();

// Runs a command: --help prints its usage; a UsageError exits 2 with the first line of the usage
// and a pointer to --help; any other error prints its message on standard error and exits 1.
int runCommand(const Command& command, const std::vector<std::string>& args);

// The lines of the help that every command shares: exit statuses and where output goes.
const char* commonHelp();

} // namespace kelvara::cli
