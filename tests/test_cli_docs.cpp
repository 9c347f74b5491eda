// The manual pages and the shell completions of kelvara-cli keep up with its commands: every
// command and every option its help names is in the manual page, the pages render without
// warnings, and the completions offer the commands, the options and their values.
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <cctype>
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

// Whether the page names a short option such as -j on its own, not as the start of \-\-jobs.
bool namesShortOption(const std::string& page, const std::string& option) {
    const std::string written = roff(option);
    for (size_t at = page.find(written); at != std::string::npos; at = page.find(written, at + 1)) {
        const bool afterDash = at >= 2 && page.compare(at - 2, 2, "\\-") == 0;
        const size_t end = at + written.size();
        const bool wordGoesOn = end < page.size() && (std::isalnum(static_cast<unsigned char>(page[end])) ||
                                                      page[end] == '\\' || page[end] == '-');
        if (!afterDash && !wordGoesOn)
            return true;
    }
    return false;
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

// Short options too, and nothing in the page that no command's help names (a stale option).
TEST(CliDocs, TheManualPageAgreesWithTheHelp) {
    const std::string page = source("docs/man/kelvara-cli.1");
    std::set<std::string> helped = {"--help", "--version"};
    const std::regex shortOption("(^|[ ,])(-[a-zA-Z])[ ,]");
    for (const char* command : Commands) {
        SCOPED_TRACE(command);
        const ProcessResult help = runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + command + " --help");
        for (const std::string& option : longOptions(help.out))
            helped.insert(option);
        for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), shortOption);
             it != std::sregex_iterator(); ++it)
            EXPECT_TRUE(namesShortOption(page, (*it)[2].str())) << (*it)[2].str();
    }
    std::string plain; // the page with its escapes undone
    for (size_t i = 0; i < page.size(); ++i)
        if (!(page[i] == '\\' && i + 1 < page.size() && page[i + 1] == '-'))
            plain += page[i];
    for (const std::string& option : longOptions(plain))
        EXPECT_TRUE(helped.count(option)) << option << " is in the manual page but in no command's help";
}

// The completions offer, for each command, exactly the options its help names.
TEST(CliDocs, CompletionsOfferEveryOptionOfTheHelp) {
    const std::string script = std::string(KELVARA_SOURCE_DIR) + "/cli/completion/kelvara-cli.bash";
    const std::string folder = std::filesystem::path(KELVARA_CLI_PATH).parent_path().string();
    for (const char* command : Commands) {
        SCOPED_TRACE(command);
        const ProcessResult help = runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + command + " --help");
        std::set<std::string> wanted = longOptions(help.out);
        wanted.insert("--help");
        const std::string line = "source " + shellQuoted(script) + "; PATH=" + shellQuoted(folder) +
                                 ":$PATH; COMP_WORDS=(kelvara-cli " + command +
                                 " --); COMP_CWORD=2; _kelvara_cli; printf '%s\\n' \"${COMPREPLY[@]}\"";
        const ProcessResult r = runProcess("bash -c " + shellQuoted(line));
        std::set<std::string> offered;
        std::istringstream words(r.out);
        for (std::string word; words >> word;)
            offered.insert(word);
        EXPECT_EQ(offered, wanted) << r.err;
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
