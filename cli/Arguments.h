// Reading a command's arguments the GNU way (options in any order, --opt=value or --opt value,
// "--" ends the options) and the checked conversions of their values, each refusal naming the
// option and what it accepts.
#pragma once

#include "cli/Commands.h"
#include "gif/GifBuildOptions.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kelvara::cli {

class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& args) : m_args(args) {}

    // Moves to the next argument; false when there is none.
    bool next();
    // The argument is one of these options that take no value. "--flag=x" is refused.
    bool flag(std::initializer_list<const char*> names);
    // The argument is one of these options that take a value; value() then gives it.
    bool option(std::initializer_list<const char*> names);
    const std::string& value() const { return m_value; }
    // The option as typed, without an attached value ("--delay" of "--delay=5").
    const std::string& name() const { return m_name; }
    // An argument that is not an option: a file name, a number, or "-" (standard output or input).
    bool isPositional() const { return m_positional; }
    const std::string& text() const { return m_args[m_index]; }
    // Refuses the current argument as an unknown option.
    [[noreturn]] void unknown() const;

private:
    const std::vector<std::string>& m_args;
    size_t m_index = 0;
    bool m_started = false;
    bool m_optionsEnded = false;
    bool m_positional = false;
    bool m_matched = false;
    std::string m_name;
    std::string m_attached; // the text after '=', when there was one
    bool m_hasAttached = false;
    std::string m_value;
};

// The typed size of a picture: --size WxH, or --width W and/or --height H. One side alone keeps
// the video's aspect ratio, as the size spin edits do; both are taken as typed. --size with
// --width or --height is refused.
class SizeOptions {
public:
    // Takes the current argument if it is one of the size options.
    bool take(ArgumentReader& args);
    bool given() const { return m_width > 0 || m_height > 0; }
    // The size for a video of videoWidth x videoHeight; the video's own without size options.
    void sizeFor(int videoWidth, int videoHeight, int& width, int& height) const;

private:
    int m_width = -1;
    int m_height = -1;
    bool m_size = false;
    bool m_side = false;
};

// Takes the current argument if it is --memory-limit SIZE, the memory the job may use.
bool takeMemoryLimit(ArgumentReader& args, uint64_t& limit);

// Takes the current argument if it is one of the GIF build options, --quality and --optimize.
bool takeGifBuildOption(ArgumentReader& args, GifBuildOptions& build);

// A whole number in low..high; UsageError "OPTION must be a whole number in LOW..HIGH, not 'TEXT'"
// otherwise.
long long integerIn(const std::string& option, const std::string& text, long long low, long long high);
// A whole number, any; UsageError "OPTION must be a whole number, not 'TEXT'" otherwise.
long long wholeNumber(const std::string& option, const std::string& text);
// A decimal number in low..high; the same refusal with "a number".
double numberIn(const std::string& option, const std::string& text, double low, double high);

// A range "A-B" of whole numbers (A may equal B); UsageError naming the option otherwise.
void parseRange(const std::string& option, const std::string& text, int64_t& first, int64_t& last);
// A frame range of a video of count frames: "A-B", "A-" (to the last frame) or "-B" (from the
// first). An end past the last frame is cut to it, with one line on standard error; a start
// outside 1..count, or after the end, is a UsageError.
void parseFrameRange(const std::string& option, const std::string& text, int64_t count, int64_t& first,
                     int64_t& last);
// A time range of a video lengthMs long, in microseconds: "T1-T2", "T1-" (to the end) or "-T2"
// (from the start), each time in seconds (1.5) or a clock time (0:01.5). An end past the end of
// the video is cut to it, with one line on standard error; a start past it, or after the end, is
// a UsageError. Bounds are printed as seconds with their fraction: "outside 0..6.166".
void parseTimeRange(const std::string& option, const std::string& text, int64_t lengthMs, int64_t& fromUs,
                    int64_t& toUs);
// Microseconds as seconds with the fraction they have: "6", "6.166", "0.04".
std::string secondsText(int64_t us);
// Checks a range against 1..count (or 0..count for seconds) with one wording for every command:
// "start 5 is after end 2", "frame 1000 is outside 1..444".
void checkRange(const std::string& option, int64_t first, int64_t last, int64_t low, int64_t high,
                const char* unit);
// "WxH", each side in 1..10000.
void parseSize(const std::string& option, const std::string& text, int& width, int& height);
// A colour RRGGBB, with or without a leading '#'.
uint32_t parseColor(const std::string& option, const std::string& text);

// Lower-case ASCII copy, for names compared without regard to case.
std::string lowerCase(std::string text);

} // namespace kelvara::cli
