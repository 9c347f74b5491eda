// The GIF engine's exception, its fixed messages and the warning severities.
#pragma once

#include "raster/Error.h"

#include <string>

namespace kelvara {

// Every failure of the GIF engine. The message is one of GifMessages.
class GIFException : public Error {
public:
    using Error::Error;
};

// Raised when a stream adapter of the engine is used in a way it does not support.
class GIFStreamError : public Error {
public:
    using Error::Error;
};

// Raised when the memory of a reduced frame cannot be had.
class GIFOutOfMemory : public Error {
public:
    using Error::Error;
};

// Severity of a non-fatal condition handed to a document's warning handler.
enum class GIFSeverity { Info, Warning, Error };

// Stage of a progress report.
enum class GIFProgressStage { Starting, Running, Ending };

namespace GifMessages {
// Document and frames.
inline constexpr const char* UnsupportedObject = "Object type not supported for operation";
inline constexpr const char* ColorTableOverflow = "Color table overflow";
inline constexpr const char* UnsupportedVersion = "Unsupported GIF version";
inline constexpr const char* ListIndexOutOfBounds = "List index out of bounds (%d)";
inline constexpr const char* BadWidth = "Image width too small for contained frames";
inline constexpr const char* BadHeight = "Image height too small for contained frames";
inline constexpr const char* ScreenBadSize = "Image exceeds Logical Screen size";
// Compression.
inline constexpr const char* BadColorIndex = "Color not in color table";
inline constexpr const char* InvalidStream = "Invalid stream operation";
// Colour reduction.
inline constexpr const char* OutOfMemoryDIB = "Failed to allocate memory for GIF DIB";
// Extension reader.
inline constexpr const char* UnknownExtension = "Unknown extension type";
inline constexpr const char* BadExtensionIntroducer = "Invalid extension introducer";
inline constexpr const char* ExtensionLabelMismatch =
    "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* BadAppExtensionSize = "Unsupported Application Extension block size";
inline constexpr const char* InvalidData = "Invalid GIF data";
inline constexpr const char* OutOfData = "Premature end of data";
// Progress.
inline constexpr const char* Converting = "Converting...";
inline constexpr const char* Copying = "Copying...";
inline constexpr const char* Saving = "Saving...";

// Our own messages, for conditions the engine's fixed list has no words for.
inline constexpr const char* ImageTooLarge = "Image dimensions exceed the GIF limit of 65535 pixels";
inline constexpr const char* UnsupportedReductionMode = "Unsupported color reduction mode";
inline constexpr const char* UnsupportedDitherMode = "Unsupported dithering mode";
inline constexpr const char* ExtensionOfAnotherFrame = "The extension belongs to another frame";
} // namespace GifMessages

// "List index out of bounds (%d)" with the index filled in.
std::string listIndexMessage(int index);

} // namespace kelvara
