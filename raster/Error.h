// The error types every part of the core raises: one base class carrying a fixed English message.
#pragma once

#include <stdexcept>
#include <string>

namespace kelvara {

// Base of every error the core raises. The message is the text the user sees.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Raised by the raster surface: invalid BMP byte images and pictures that cannot be made.
class RasterError : public Error {
public:
    using Error::Error;
};

// Raised by streams when a read or write cannot be completed.
class StreamError : public Error {
public:
    using Error::Error;
};

namespace RasterMessages {
inline constexpr const char* InvalidBitmap = "Bitmap image is not valid";
// The message of a refused BMP byte image: InvalidBitmap and the reason.
inline std::string invalidBitmap(const std::string& reason) {
    return std::string(InvalidBitmap) + ": " + reason;
}
inline constexpr const char* OutOfResources = "Out of system resources";
} // namespace RasterMessages

} // namespace kelvara
