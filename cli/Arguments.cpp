// Reading a command's arguments and checking their values.
#include "cli/Arguments.h"

#include "convert/AviToGif.h"
#include "convert/JobMemory.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace kelvara::cli {

bool ArgumentReader::next() {
    if (m_started && !m_matched && !m_positional)
        unknown(); // the previous argument was an option no one took
    if (m_started)
        ++m_index;
    m_started = true;
    m_matched = false;
    m_hasAttached = false;
    m_attached.clear();
    m_value.clear();
    if (m_index >= m_args.size())
        return false;
    const std::string& a = m_args[m_index];
    if (!m_optionsEnded && a == "--") {
        m_optionsEnded = true;
        m_positional = false;
        m_matched = true;
        return next();
    }
    m_positional = m_optionsEnded || a.size() < 2 || a[0] != '-';
    if (m_positional) {
        m_name.clear();
        return true;
    }
    m_name = a;
    if (a.rfind("--", 0) == 0) {
        const size_t equals = a.find('=');
        if (equals != std::string::npos) {
            m_name = a.substr(0, equals);
            m_attached = a.substr(equals + 1);
            m_hasAttached = true;
        }
    }
    return true;
}

bool ArgumentReader::flag(std::initializer_list<const char*> names) {
    if (m_positional || m_matched)
        return false;
    for (const char* n : names) {
        if (m_name == n) {
            if (m_hasAttached)
                throw UsageError(m_name + " takes no value");
            m_matched = true;
            return true;
        }
    }
    return false;
}

bool ArgumentReader::option(std::initializer_list<const char*> names) {
    if (m_positional || m_matched)
        return false;
    for (const char* n : names) {
        if (m_name != n)
            continue;
        if (m_hasAttached) {
            m_value = m_attached;
        } else {
            // The next argument is the value, whatever it looks like: "-o -" and "--delay -5".
            if (m_index + 1 >= m_args.size())
                throw UsageError(m_name + " needs a value");
            m_value = m_args[++m_index];
        }
        m_matched = true;
        return true;
    }
    return false;
}

void ArgumentReader::unknown() const {
    throw UsageError("unknown option " + m_name);
}

bool SizeOptions::take(ArgumentReader& args) {
    if (args.option({"--size"})) {
        parseSize("--size", args.value(), m_width, m_height);
        m_size = true;
    } else if (args.option({"--width"})) {
        m_width = static_cast<int>(integerIn("--width", args.value(), 1, 10000));
        m_side = true;
    } else if (args.option({"--height"})) {
        m_height = static_cast<int>(integerIn("--height", args.value(), 1, 10000));
        m_side = true;
    } else {
        return false;
    }
    if (m_size && m_side)
        throw UsageError("give --size or --width/--height, not both");
    return true;
}

void SizeOptions::sizeFor(int videoWidth, int videoHeight, int& width, int& height) const {
    width = videoWidth;
    height = videoHeight;
    if (!given())
        return;
    width = m_width > 0 ? m_width : aspectSide(m_height, videoHeight, videoWidth);
    height = m_height > 0 ? m_height : aspectSide(m_width, videoWidth, videoHeight);
}

namespace {

[[noreturn]] void refuse(const std::string& option, const char* kind, const std::string& low,
                         const std::string& high, const std::string& text) {
    throw UsageError(option + " must be " + kind + " in " + low + ".." + high + ", not '" + text + "'");
}

// The whole text as a decimal whole number, an optional sign first; none for anything else
// (leading blanks, trailing characters, out of range).
std::optional<long long> parseWhole(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE)
        return std::nullopt;
    return value;
}

std::string shortNumber(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

} // namespace

long long integerIn(const std::string& option, const std::string& text, long long low, long long high) {
    const std::optional<long long> value = parseWhole(text);
    if (!value || *value < low || *value > high)
        refuse(option, "a whole number", std::to_string(low), std::to_string(high), text);
    return *value;
}

long long wholeNumber(const std::string& option, const std::string& text) {
    const std::optional<long long> value = parseWhole(text);
    if (!value)
        throw UsageError(option + " must be a whole number, not '" + text + "'");
    return *value;
}

double numberIn(const std::string& option, const std::string& text, double low, double high) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || *end != '\0' ||
        !std::isfinite(value) || value < low || value > high)
        refuse(option, "a number", shortNumber(low), shortNumber(high), text);
    return value;
}

void parseRange(const std::string& option, const std::string& text, int64_t& first, int64_t& last) {
    const size_t dash = text.find('-', 1);
    auto bound = [&](const std::string& part) {
        // Digits only: no sign of its own.
        const std::optional<long long> v = !part.empty() && std::isdigit(static_cast<unsigned char>(part[0]))
                                               ? parseWhole(part)
                                               : std::nullopt;
        if (!v)
            throw UsageError(option + " must look like A-B with whole numbers A and B, not '" + text + "'");
        return static_cast<int64_t>(*v);
    };
    if (dash == std::string::npos)
        throw UsageError(option + " must look like A-B with whole numbers A and B, not '" + text + "'");
    first = bound(text.substr(0, dash));
    last = bound(text.substr(dash + 1));
}

namespace {

// The two sides of "A-B", "A-" or "-B"; a side left open is empty. False without one dash
// between two sides of which at least one is given.
bool splitRange(const std::string& text, std::string& from, std::string& to) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos || text.find('-', dash + 1) != std::string::npos || text.size() < 2)
        return false;
    from = text.substr(0, dash);
    to = text.substr(dash + 1);
    return true;
}

} // namespace

void parseFrameRange(const std::string& option, const std::string& text, int64_t count, int64_t& first,
                     int64_t& last) {
    std::string from, to;
    auto bound = [&](const std::string& part) -> std::optional<int64_t> {
        if (part.empty() ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        return parseWhole(part);
    };
    std::optional<int64_t> a, b;
    const bool split = splitRange(text, from, to);
    if (split) {
        a = from.empty() ? std::optional<int64_t>(1) : bound(from);
        b = to.empty() ? std::optional<int64_t>(count) : bound(to);
    }
    if (!split || !a || !b)
        throw UsageError(option + " must look like A-B, A- (to the end) or -B (from the start) with whole " +
                         "numbers A and B, not '" + text + "'");
    const std::string bounds = "1.." + std::to_string(count);
    if (*a < 1 || *a > count)
        throw UsageError(option + ": frame " + std::to_string(*a) + " is outside " + bounds);
    if (*a > *b)
        throw UsageError(option + ": start " + std::to_string(*a) + " is after end " + std::to_string(*b));
    if (*b < 1)
        throw UsageError(option + ": frame " + std::to_string(*b) + " is outside " + bounds);
    if (*b > count) {
        say(option + " " + text + ": the video ends at frame " + std::to_string(count) + "; taking frames " +
            std::to_string(*a) + ".." + std::to_string(count));
        b = count;
    }
    first = *a;
    last = *b;
}

std::string secondsText(int64_t us) {
    std::string s = std::to_string(us / 1'000'000);
    if (const int64_t fraction = us % 1'000'000) {
        std::string digits = std::to_string(1'000'000 + fraction).substr(1);
        s += "." + digits.substr(0, digits.find_last_not_of('0') + 1);
    }
    return s;
}

void parseTimeRange(const std::string& option, const std::string& text, int64_t lengthMs, int64_t& fromUs,
                    int64_t& toUs) {
    const int64_t lengthUs = lengthMs * 1000;
    std::string from, to;
    std::optional<int64_t> a, b;
    const bool split = splitRange(text, from, to);
    if (split) {
        a = from.empty() ? std::optional<int64_t>(0) : timeFromText(from);
        b = to.empty() ? std::optional<int64_t>(lengthUs) : timeFromText(to);
    }
    if (!split || !a || !b)
        throw UsageError(option +
                         " must look like T1-T2, T1- (to the end) or -T2 (from the start), each time " +
                         "in seconds (1.5) or a clock time (0:01.5, 00:00:01.500), not '" + text + "'");
    const std::string bounds = "0.." + secondsText(lengthUs);
    if (*a > lengthUs)
        throw UsageError(option + ": second " + secondsText(*a) + " is outside " + bounds);
    if (*a > *b)
        throw UsageError(option + ": start " + secondsText(*a) + " is after end " + secondsText(*b));
    if (*b > lengthUs) {
        say(option + " " + text + ": the video ends at second " + secondsText(lengthUs) + "; taking " +
            secondsText(*a) + ".." + secondsText(lengthUs));
        b = lengthUs;
    }
    fromUs = *a;
    toUs = *b;
}

void checkRange(const std::string& option, int64_t first, int64_t last, int64_t low, int64_t high,
                const char* unit) {
    const std::string bounds = std::to_string(low) + ".." + std::to_string(high);
    const std::string prefix = option.empty() ? "" : option + ": ";
    if (first > last)
        throw UsageError(prefix + "start " + std::to_string(first) + " is after end " + std::to_string(last));
    for (int64_t v : {first, last})
        if (v < low || v > high)
            throw UsageError(prefix + unit + " " + std::to_string(v) + " is outside " + bounds);
}

void parseSize(const std::string& option, const std::string& text, int& width, int& height) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        throw UsageError(option + " must look like WxH, not '" + text + "'");
    width = static_cast<int>(integerIn(option + " width", text.substr(0, x), 1, 10000));
    height = static_cast<int>(integerIn(option + " height", text.substr(x + 1), 1, 10000));
}

uint32_t parseColor(const std::string& option, const std::string& text) {
    const std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    bool ok = hex.size() == 6;
    for (char c : hex)
        ok = ok && std::isxdigit(static_cast<unsigned char>(c));
    if (!ok)
        throw UsageError(option + " must be a colour RRGGBB (six hexadecimal digits), not '" + text + "'");
    return static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool takeMemoryLimit(ArgumentReader& args, uint64_t& limit) {
    if (!args.option({"--memory-limit"}))
        return false;
    const std::optional<uint64_t> bytes = memorySizeFromText(args.value());
    // Below 16 MB no job can start; above a petabyte is a typing slip.
    if (!bytes || *bytes < (uint64_t(16) << 20))
        throw UsageError("--memory-limit must be a size of at least 16M such as 512M, 2G or 1.5G, not '" +
                         args.value() + "'");
    limit = *bytes;
    return true;
}

bool takeGifBuildOption(ArgumentReader& args, GifBuildOptions& build) {
    if (args.option({"--quality"})) {
        const std::string text = args.value();
        if (!text.empty() &&
            std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            build.quality = GifQuality::High;
            build.level = static_cast<int>(integerIn("--quality", text, 1, 100));
        } else if (gifQualityFromText(text, build.quality)) {
            build.level = 100;
        } else {
            throw UsageError("--quality must be classic, high or a level 1..100, not '" + text + "'");
        }
        return true;
    }
    if (args.option({"--lossy"})) {
        build.lossy = static_cast<int>(integerIn("--lossy", args.value(), 0, 255));
        return true;
    }
    if (args.flag({"--optimize"})) {
        build.optimize = true;
        return true;
    }
    return false;
}

} // namespace kelvara::cli
