// Buffered file streams shared by the platform files: the buffering lives
// here once, the system calls under it in each platform file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

namespace morvane::platform {

// Large enough that a gigabyte passes in a few thousand system calls, small
// enough that the resident set stays tiny and nearly the same whatever the
// size of the file.
constexpr std::size_t STREAM_BUFFER_SIZE = 128 * 1024;

struct Stream {
    std::intptr_t iFile;  // file descriptor or handle
    bool bEnd;
    bool bFailed;
    std::uint32_t uMode;   // the input's mode, owner and group: a model for
    std::uint32_t uOwner;  // the output where the platform has them
    std::uint32_t uGroup;
    std::size_t nStart;  // input: first unread byte of aBuffer
    std::size_t nEnd;    // input: end of the valid bytes; output: bytes buffered
    unsigned char aBuffer[STREAM_BUFFER_SIZE];
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

// Provided by the platform file.  Writes all nSize bytes, carrying on after
// partial writes; false on failure (error saved).
[[nodiscard]] bool WriteAll(std::intptr_t iFile, const unsigned char *pData, std::size_t nSize);

}  // namespace morvane::platform
