// kelvara-cli: the command-line front end. Each command is a thin shell over a core job.
#include "cli/Commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const Usage = "Usage: kelvara-cli COMMAND [OPTIONS]\n"
                          "\n"
                          "Commands:\n"
                          "  info VIDEO                 print the facts of an AVI video\n"
                          "  frame VIDEO INDEX -o OUT   write one frame (0-based) as a 24-bit BMP\n"
                          "  gif VIDEO -o OUT.gif       convert a video, or part of it, to an animated GIF\n"
                          "  frames VIDEO --format F    extract frames and write them as still images\n"
                          "  write IN OUT --format F    write a picture with one still-image writer\n"
                          "  animate -o OUT.gif IN...   make an animated GIF of BMP pictures\n"
                          "\n"
                          "Run 'kelvara-cli COMMAND --help' for the options of a command.\n";

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(Usage, stderr);
        return kelvara::cli::ExitUsage;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(Usage, stdout);
        return 0;
    }
    for (const kelvara::cli::Command& c : kelvara::cli::commands()) {
        if (command == c.name)
            return kelvara::cli::runCommand(c, args);
    }
    std::fprintf(stderr, "kelvara-cli: unknown command '%s'\n\n%s", command.c_str(), Usage);
    return kelvara::cli::ExitUsage;
}
