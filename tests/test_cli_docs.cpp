// The manual pages and the shell completions of kelvara-cli keep up with its commands: every
// command and every option its help names is in the manual page, the pages render without
// warnings, and the completions offer the commands, the options and their values.
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

using namespace kelvara::test;

namespace {

const char* const Commands[] = {"info", "frame", "gif", "frames", "write", "animate", "transition"};

std::string source(const std::string& path) {
    std::ifstream in(std::string(KELVARA_SOURCE_DIR) + "/" + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> longOptions(const std::string& help) {
    std::set<std::string> options;
    const std::regex option("--[a-z0-9][a-z0-9-]*");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    return options;
}

// The options as the manual page spells them: every '-' escaped.
std::string roff(const std::string& option) {
    std::string out;
    for (char c : option)
        out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

} // namespace

TEST(CliDocs, TheManualPageNamesEveryCommandAndOption) {
    const std::string page = source("docs/man/kelvara-cli.1");
    ASSERT_FALSE(page.empty());
    for (const char* command : Commands) {
        SCOPED_TRACE(command);
        EXPECT_NE(page.find(".BI \"" + std::string(command) + " "), std::string::npos);
        const ProcessResult help = runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + command + " --help");
        ASSERT_EQ(help.exitCode, 0);
        for (const std::string& option : longOptions(help.out))
            EXPECT_NE(page.find(roff(option)), std::string::npos) << option;
    }
}

TEST(CliDocs, ManualPagesRenderWithoutWarnings) {
    if (runProcess("command -v groff").exitCode != 0)
        GTEST_SKIP() << "groff is not installed (scripts/install-deps.sh installs groff-base)";
    for (const char* page : {"docs/man/kelvara-cli.1", "docs/man/kelvara.1"}) {
        const ProcessResult r =
            runProcess("groff -man -ww -z " + shellQuoted(std::string(KELVARA_SOURCE_DIR) + "/" + page));
        EXPECT_EQ(r.exitCode, 0) << page;
        EXPECT_EQ(r.err, "") << page;
    }
}

TEST(CliDocs, BashCompletionOffersCommandsOptionsAndValues) {
    const std::string script = std::string(KELVARA_SOURCE_DIR) + "/cli/completion/kelvara-cli.bash";
    const std::string folder = std::filesystem::path(KELVARA_CLI_PATH).parent_path().string();
    const struct {
        const char* words; // the command line so far; the last word is completed
        const char* offered;
    } cases[] = {
        {"kelvara-cli tr", "transition"},
        {"kelvara-cli ''", "info frame gif frames write animate transition --help --version"},
        {"kelvara-cli write a.png b.tif --tiff-c", "--tiff-compression"},
        {"kelvara-cli write a.png b.tif --tiff-compression g", "g3fax1d g3fax2d g4fax"},
        {"kelvara-cli frames v.avi --format j", "jpg jpeg jp2 j2k"},
        {"kelvara-cli gif v.avi --loo", "--loop"},
        {"kelvara-cli gif v.avi --lo", "--loop --lossy"},
        {"kelvara-cli gif v.avi --sc", "--scale"},
        {"kelvara-cli transition --effect CenterZ", "CenterZoom1 CenterZoom2"},
        {"kelvara-cli info --j", "--json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        const std::string line =
            "source " + shellQuoted(script) + "; PATH=" + shellQuoted(folder) + ":$PATH; COMP_WORDS=(" +
            c.words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelvara_cli; echo \"${COMPREPLY[*]}\"";
        const ProcessResult r = runProcess("bash -c " + shellQuoted(line));
        EXPECT_EQ(r.out, std::string(c.offered) + "\n") << r.err;
    }
}

TEST(CliDocs, ZshCompletionIsValid) {
    if (runProcess("command -v zsh").exitCode != 0)
        GTEST_SKIP() << "zsh is not installed (scripts/install-deps.sh installs it)";
    const ProcessResult r =
        runProcess("zsh -n " + shellQuoted(std::string(KELVARA_SOURCE_DIR) + "/cli/completion/_kelvara-cli"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(source("cli/completion/_kelvara-cli").rfind("#compdef kelvara-cli\n", 0), 0u);
}
