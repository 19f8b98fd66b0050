// Read-only memory mapping of whole files: open for shared reading, size,
// map, unmap, close. POSIX open/fstat/mmap on Linux, CreateFileA and
// CreateFileMappingA/MapViewOfFile on Windows. Used by the tablebase code,
// which maps large table files on first use and reads them in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// An open file: a descriptor on POSIX, a HANDLE on Windows (-1 is invalid on both).
using FileHandle = intptr_t;
constexpr FileHandle INVALID_FILE = -1;

// A mapped view of a whole file. `mapping` is the Windows mapping object
// (unused elsewhere).
struct FileView {
    const unsigned char* data = nullptr;
    size_t size = 0;
    void* mapping = nullptr;
};

// Which step of mapping failed.
enum class MapStatus { Ok, MappingFailed, ViewFailed };

// Opens an existing file for reading, shared with other readers.
FileHandle openForReading(const std::string& path);
// Size in bytes; false when it cannot be read.
bool fileSize(FileHandle file, uint64_t& size);
// Closes the handle; false (with *error set) when the system refuses.
bool closeFile(FileHandle file, unsigned long* error = nullptr);

// Maps `size` bytes of the open file read-only. On failure *error holds the
// system error code. The handle can be closed afterwards; the view stays.
MapStatus mapReadOnly(FileHandle file, uint64_t size, FileView& view, unsigned long* error);
// Unmaps the view (and closes the Windows mapping object). Reports the first
// failing step: 1 = unmapping, 2 = closing the mapping, with *error set.
int unmapView(FileView& view, unsigned long* error);

// The system's code for the last failed call (errno or GetLastError()).
unsigned long lastSystemError();
