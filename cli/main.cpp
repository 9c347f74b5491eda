// kelvara-cli: the command-line front end. Each command is a thin shell over a core job.
#include "cli/Commands.h"

#include "raster/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The list of commands, made from the command table.
std::string usage() {
    std::string text = "Usage: kelvara-cli COMMAND [ARGUMENTS] [OPTIONS]\n"
                       "       kelvara-cli --help | --version\n"
                       "\n"
                       "Turns video into animated GIFs, extracts frames as still images and builds\n"
                       "transition GIFs between two pictures.\n"
                       "\n"
                       "Commands:\n";
    size_t width = 0;
    for (const kelvara::cli::Command& c : kelvara::cli::commands())
        width = std::max(width, std::string(c.name).size() + 1 + std::string(c.synopsis).size());
    for (const kelvara::cli::Command& c : kelvara::cli::commands()) {
        std::string head = std::string(c.name) + " " + c.synopsis;
        head.resize(width, ' ');
        text += "  " + head + "  " + c.summary + "\n";
    }
    text += "\n";
    text += kelvara::cli::commonHelp();
    text += "\nRun 'kelvara-cli COMMAND --help' for the arguments and options of a command.\n";
    return text;
}

// What a command printed on standard output must have reached it: a full disk or a closed pipe
// turns a successful run into a failure, as it does for the coreutils.
int withStandardOutputChecked(int status) {
    // A text longer than the buffer fails while it is written: that write's reason is kept.
    const int earlier = std::ferror(stdout) ? errno : 0;
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno ? errno : earlier;
        std::fprintf(stderr, "kelvara-cli: cannot write standard output%s%s\n", error ? ": " : "",
                     error ? std::strerror(error) : "");
        return status == kelvara::cli::ExitOk ? kelvara::cli::ExitFailure : status;
    }
    return status;
}

int run(std::vector<std::string> args) {
    if (args.empty()) {
        std::fputs(usage().c_str(), stderr);
        return kelvara::cli::ExitUsage;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(usage().c_str(), stdout);
        return kelvara::cli::ExitOk;
    }
    if (command == "--version" || command == "-V") {
        std::printf("kelvara-cli %s\n", KELVARA_VERSION);
        return kelvara::cli::ExitOk;
    }
    for (const kelvara::cli::Command& c : kelvara::cli::commands()) {
        if (command == c.name)
            return kelvara::cli::runCommand(c, args);
    }
    std::fprintf(stderr,
                 "kelvara-cli: unknown command '%s'\nkelvara-cli: Try 'kelvara-cli --help' for the list of "
                 "commands.\n",
                 command.c_str());
    return kelvara::cli::ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // An interrupted run removes its unfinished files and ends with 128 + the signal's number.
    kelvara::removeTemporaryFilesOnSignals();
    // The help and the lines of a command reach standard output in one write at the end, so that a
    // failure to write them is seen with its reason.
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    return withStandardOutputChecked(run(std::vector<std::string>(argv + 1, argv + argc)));
}
