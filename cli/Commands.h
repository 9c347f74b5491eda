// The commands of kelvara-cli, the exit statuses they share and the runner that turns their
// errors into messages.
#pragma once

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvara {
class FrameSourceError;
}

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

// The start of every line the running command writes: "kelvara-cli gif: " ("kelvara-cli: " before
// a command is known).
std::string linePrefix();
// One line on standard error, after the prefix; lines of jobs running at once are not mixed.
void say(const std::string& text);
// The same on the stream given (standard output for a summary, standard error when the output
// goes to standard output).
void sayOn(std::FILE* stream, const std::string& text);
// The input a job is reading, named in the errors of its frame source that do not name it.
void setCurrentInput(const std::string& path);
// The input a job of several is working on, named on every line it writes; empty for none.
void setJobLabel(const std::string& label);
const std::string& currentInput();

// The message of a frame source that could not be opened: "FILE: STEP (REASON)".
std::string frameSourceErrorText(const FrameSourceError& e);

// Whether --quiet was given: a summary is then not printed.
void setQuiet(bool quiet);
bool quiet();

// The lines of the help that every command shares: exit statuses and where output goes.
const char* commonHelp();

} // namespace kelvara::cli
