// Tests of the output file that takes its name only when complete: nothing under the target's name
// (and, where the file system allows, no name at all) before commit, after an error or after a
// kill; temporary names of dead processes cleaned by the next writer; existing files kept or
// replaced as asked; write errors that name the file and the reason.
#include "raster/Stream.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelvara;
using namespace kelvara::test;

namespace {

using Temporary = OutputFile::Temporary;

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::string& path, const std::string& text) {
    writeFileAtomically(path, text.data(), text.size());
}

// Runs a writer in a child process that is killed before it commits; returns the child's id.
pid_t killedWriter(const std::string& path, Temporary temporary) {
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            OutputFile file(path, ExistingFile::Replace, temporary);
            const std::vector<uint8_t> bytes(100000, 0x5A);
            file.write(bytes.data(), bytes.size());
            ::raise(SIGKILL);
        } catch (...) {
        }
        ::_exit(3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    return child;
}

} // namespace

TEST(OutputFile, HasNoNameUntilCommitted) {
    for (Temporary temporary : {Temporary::Anonymous, Temporary::Named}) {
        ScratchDir dir;
        OutputFile file(dir.file("out.gif"), ExistingFile::Replace, temporary);
        file.write("GIF89a", 6);
        if (temporary == Temporary::Named || !file.temporaryPath().empty()) {
            // A hidden name of its own, never the target's.
            const std::string name = std::filesystem::path(file.temporaryPath()).filename().string();
            EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{name});
            EXPECT_EQ(name.rfind(".kelvara.", 0), 0u) << name;
        } else {
            EXPECT_TRUE(namesIn(dir.path()).empty());
        }
        file.commit();
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.gif"});
        EXPECT_EQ(contentOf(dir.file("out.gif")), "GIF89a");
    }
}

TEST(OutputFile, AnUncommittedFileLeavesNothing) {
    for (Temporary temporary : {Temporary::Anonymous, Temporary::Named}) {
        ScratchDir dir;
        writeText(dir.file("out.gif"), "old");
        {
            OutputFile file(dir.file("out.gif"), ExistingFile::Replace, temporary);
            file.write("new", 3);
        }
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.gif"});
        EXPECT_EQ(contentOf(dir.file("out.gif")), "old");
    }
}

TEST(OutputFile, ExistingFilesAreKeptOrReplacedAsAsked) {
    for (Temporary temporary : {Temporary::Anonymous, Temporary::Named}) {
        ScratchDir dir;
        const std::string path = dir.file("out.bmp");
        writeText(path, "old");
        OutputFile kept(path, ExistingFile::Keep, temporary);
        kept.write("new", 3);
        EXPECT_THROW(kept.commit(), FileExistsError);
        EXPECT_EQ(contentOf(path), "old");

        OutputFile replacing(path, ExistingFile::Replace, temporary);
        replacing.write("new", 3);
        replacing.commit();
        EXPECT_EQ(contentOf(path), "new");
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.bmp"});

        // A free name is taken with either choice.
        OutputFile fresh(dir.file("fresh.bmp"), ExistingFile::Keep, temporary);
        fresh.write("x", 1);
        fresh.commit();
        EXPECT_EQ(contentOf(dir.file("fresh.bmp")), "x");
    }
}

// A writer killed before it commits leaves no file where nameless files can be made. Elsewhere
// it leaves its temporary name, which the next writer to the folder removes, while the names of
// live processes and of other machines stay.
TEST(OutputFile, WritersKilledBeforeCommittingLeaveNoDebris) {
    {
        ScratchDir dir;
        const std::string probe = dir.file("probe");
        OutputFile file(probe, ExistingFile::Replace);
        if (file.temporaryPath().empty()) {
            killedWriter(dir.file("out.gif"), Temporary::Anonymous);
            EXPECT_TRUE(namesIn(dir.path()).empty());
        }
    }
    ScratchDir dir;
    const pid_t dead = killedWriter(dir.file("out.gif"), Temporary::Named);
    const std::vector<std::string> left = namesIn(dir.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(".kelvara." + std::to_string(dead) + ".", 0), 0u) << left[0];

    const std::string live = temporaryFileName(dir.path() + "/");
    writeText(live, "a live writer's");
    const std::string elsewhere = dir.file(".kelvara." + std::to_string(dead) + ".0.some-other-host.part");
    writeText(elsewhere, "another machine's");
    OutputFile next(dir.file("next.gif"), ExistingFile::Replace, Temporary::Named);
    next.write("GIF", 3);
    next.commit();
    std::vector<std::string> expected = {std::filesystem::path(live).filename().string(),
                                         std::filesystem::path(elsewhere).filename().string(), "next.gif"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(dir.path()), expected);
}

// With the signal cleanup on, SIGINT, SIGTERM and SIGHUP remove the temporary name of a file
// being written and end the process with 128 + the signal's number; an old file stays.
TEST(OutputFile, SignalsRemoveTheTemporaryName) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ScratchDir dir;
        writeText(dir.file("out.gif"), "old");
        const pid_t child = ::fork();
        if (child == 0) {
            removeTemporaryFilesOnSignals();
            try {
                OutputFile file(dir.file("out.gif"), ExistingFile::Replace, Temporary::Named);
                const std::vector<uint8_t> bytes(100000, 0x5A);
                file.write(bytes.data(), bytes.size());
                if (file.temporaryPath().empty() || ::access(file.temporaryPath().c_str(), F_OK) != 0)
                    ::_exit(2);
                ::raise(signal);
            } catch (...) {
            }
            ::_exit(3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.gif"});
        EXPECT_EQ(contentOf(dir.file("out.gif")), "old");
    }
}

TEST(OutputFile, ErrorsNameTheFileAndTheReason) {
    ScratchDir dir;
    const std::string missing = dir.file("no-such-folder/out.gif");
    for (Temporary temporary : {Temporary::Anonymous, Temporary::Named}) {
        try {
            OutputFile file(missing, ExistingFile::Replace, temporary);
            ADD_FAILURE() << "opened";
        } catch (const StreamError& e) {
            EXPECT_EQ(e.what(), "Cannot write file " + missing + ": folder " + dir.file("no-such-folder") +
                                    " does not exist");
        }
    }
    // A folder in the way of the name is refused before anything is written.
    std::filesystem::create_directory(dir.file("taken"));
    try {
        OutputFile file(dir.file("taken"), ExistingFile::Replace);
        ADD_FAILURE() << "opened";
    } catch (const StreamError& e) {
        EXPECT_EQ(e.what(), "Cannot write file " + dir.file("taken") + ": Is a directory");
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"taken"});
}

TEST(BlockBufferStream, HandsOverWhatWasWrittenAcrossBlocks) {
    // Writes of many sizes, some crossing a block's end and one larger than a block, give the
    // same bytes a memory stream holds.
    const size_t block = BlockBufferStream::BlockSize;
    const size_t sizes[] = {0, 1, 254, block - 256, 3, block + 7, 2, block - 12, 255};
    BlockBufferStream blocks;
    MemoryStream memory;
    uint8_t next = 0;
    for (const size_t size : sizes) {
        std::vector<uint8_t> part(size);
        for (uint8_t& b : part)
            b = next++ * 7;
        blocks.write(part.data(), part.size());
        memory.write(part.data(), part.size());
        ASSERT_EQ(blocks.position(), memory.position());
    }
    blocks.seek(blocks.size()); // to the end: nothing moves
    EXPECT_THROW(blocks.seek(0), StreamError);
    uint8_t byte;
    EXPECT_THROW(blocks.read(&byte, 1), StreamError);
    EXPECT_EQ(blocks.take(), memory.bytes());
    EXPECT_EQ(blocks.size(), 0u);
    EXPECT_TRUE(blocks.take().empty());
}
