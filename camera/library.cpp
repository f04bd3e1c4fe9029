// Lumbrix.so is made of the camera library's static parts, linked whole.
// This unit gives the shared library a translation unit of its own.
namespace Orvane {
extern const char* const LibraryName;
const char* const LibraryName = "Lumbrix";
} // namespace Orvane
