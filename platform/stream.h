// Buffered file streams shared by the platform files: the buffering lives
// here once, the system calls under it in each platform file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

namespace morvane::platform {

// Reads from the page cache cost little per call at 128 KiB.  Writes cost
// least per byte in blocks of a megabyte or so (on ext4, 128 KiB ones made a
// gigabyte take a tenth longer than dd's).  Both buffers are static and
// page-aligned, so that the kernel copies whole pages; together they keep
// the resident set well under 3 MiB whatever the size of the file.
constexpr std::size_t INPUT_BUFFER_SIZE = 128 * 1024;
constexpr std::size_t OUTPUT_BUFFER_SIZE = 1024 * 1024;

struct Stream {
    std::intptr_t iFile;  // file descriptor or handle
    bool bEnd;
    bool bFailed;
    std::uint32_t uMode;   // the input's mode (attributes on Windows), owner and
    std::uint32_t uOwner;  // group: a model for the output where the platform has them
    std::uint32_t uGroup;
    std::int64_t lOpenSize;  // input: its file's size and modification time
    std::int64_t lOpenTime;  // when it was opened
    std::int64_t lWritten;   // output: bytes written to its file
    std::size_t nStart;      // input: first unread byte of pBuffer
    std::size_t nEnd;        // input: end of the valid bytes; output: bytes buffered
    unsigned char *pBuffer;
    std::size_t nCapacity;  // bytes at pBuffer
};

// The one input and the one output stream; they are static so that no
// conversion allocates.
extern Stream gInput;
extern Stream gOutput;

// Makes *pStream an open, empty, healthy stream over iFile.
Stream *StartStream(Stream *pStream, std::intptr_t iFile);

// Writes out the buffered bytes; false, error saved, when writing fails.
// After a failure the stream stays failed.
[[nodiscard]] bool FlushOutput(Stream *pOutput);

// Provided by the platform file.  Reads up to nSize bytes: the count, 0 at
// the end of the file, -1 on failure (error saved).  Retries interruptions.
[[nodiscard]] std::ptrdiff_t ReadSome(std::intptr_t iFile, void *pBuffer, std::size_t nSize);

// Provided by the platform file.  True when the output's file is still
// under its name, exactly lWritten bytes long, and written by no other
// program; false, with ERROR_CHANGED or the error of looking saved, when
// that cannot be vouched for.
[[nodiscard]] bool OutputIntact(const Stream *pOutput);

// Provided by the platform file.  Writes all nSize bytes of the output,
// carrying on after partial writes; false on failure (error saved).
[[nodiscard]] bool WriteAll(std::intptr_t iFile, const unsigned char *pData, std::size_t nSize);

}  // namespace morvane::platform
