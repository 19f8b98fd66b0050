#include "platform/mapfile.h"

#ifdef _WIN32
#include <windows.h>

FileHandle openForReading(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? INVALID_FILE : FileHandle(h);
}

bool fileSize(FileHandle file, uint64_t& size) {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(HANDLE(file), &s)) return false;
    size = uint64_t(s.QuadPart);
    return true;
}

bool closeFile(FileHandle file, unsigned long* error) {
    if (CloseHandle(HANDLE(file))) return true;
    if (error) *error = GetLastError();
    return false;
}

MapStatus mapReadOnly(FileHandle file, uint64_t size, FileView& view, unsigned long* error) {
    HANDLE mapping = CreateFileMappingA(HANDLE(file), nullptr, PAGE_READONLY, DWORD(size >> 32), DWORD(size), nullptr);
    if (!mapping) {
        if (error) *error = GetLastError();
        return MapStatus::MappingFailed;
    }
    void* data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!data) {
        if (error) *error = GetLastError();
        CloseHandle(mapping);
        return MapStatus::ViewFailed;
    }
    view.data = static_cast<const unsigned char*>(data);
    view.size = size_t(size);
    view.mapping = mapping;
    return MapStatus::Ok;
}

int unmapView(FileView& view, unsigned long* error) {
    int failed = 0;
    if (view.data && !UnmapViewOfFile(view.data)) {
        if (error) *error = GetLastError();
        failed = 1;
    }
    if (view.mapping && !CloseHandle(HANDLE(view.mapping)) && !failed) {
        if (error) *error = GetLastError();
        failed = 2;
    }
    view = FileView{};
    return failed;
}

unsigned long lastSystemError() { return GetLastError(); }

#else
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

FileHandle openForReading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return INVALID_FILE;
    // Only regular files: a directory of the same name is not a table.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return INVALID_FILE;
    }
    return fd;
}

bool fileSize(FileHandle file, uint64_t& size) {
    struct stat st;
    if (fstat(int(file), &st) != 0) return false;
    size = uint64_t(st.st_size);
    return true;
}

bool closeFile(FileHandle file, unsigned long* error) {
    if (close(int(file)) == 0) return true;
    if (error) *error = unsigned(errno);
    return false;
}

MapStatus mapReadOnly(FileHandle file, uint64_t size, FileView& view, unsigned long* error) {
    void* data = mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, int(file), 0);
    if (data == MAP_FAILED) {
        if (error) *error = unsigned(errno);
        return MapStatus::ViewFailed;
    }
#ifdef MADV_RANDOM
    madvise(data, size_t(size), MADV_RANDOM);
#endif
    view.data = static_cast<const unsigned char*>(data);
    view.size = size_t(size);
    view.mapping = nullptr;
    return MapStatus::Ok;
}

int unmapView(FileView& view, unsigned long* error) {
    int failed = 0;
    if (view.data && munmap(const_cast<unsigned char*>(view.data), view.size) != 0) {
        if (error) *error = unsigned(errno);
        failed = 1;
    }
    view = FileView{};
    return failed;
}

unsigned long lastSystemError() { return unsigned(errno); }
#endif
