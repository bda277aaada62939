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
    std::intptr_t iFile;  // file descriptor or handle; -1 while the stream is idle
    bool bEnd;
    bool bFailed;
    bool bWatched;         // POSIX: the system watches the file for other programs' opens,
    bool bBusy;            // or one had it open already when it was opened;
    bool bForcing;         // output: its forcing to storage was started and not yet awaited
    std::uint32_t uMode;   // the input's mode (attributes on Windows), owner and
    std::uint32_t uOwner;  // group: a model for the output where the platform has them
    std::uint32_t uGroup;
    std::int64_t lOpenSize;  // input: its file's size and modification time
    std::int64_t lOpenTime;  // when it was opened
    std::uint64_t uVolume;   // input: its file's identity, for Delete
    std::uint64_t uIndex;
    std::int64_t lWritten;  // output: bytes written to its file
    std::int64_t lAt;       // input read again: where its next read starts, or -1: where the
    std::int64_t lLeft;     // file is; and how many bytes it may still yield, or -1: all
    std::size_t nStart;     // input: first unread byte of pBuffer
    std::size_t nEnd;       // input: end of the valid bytes; output: bytes buffered
    unsigned char *pBuffer;
    std::size_t nCapacity;  // bytes at pBuffer
};

// The input and output streams, one of each for every file in flight; they
// are static so that no conversion allocates.  All inputs share one buffer
// and all outputs another: only one file is read, written or compared at a
// time, and a file in flight has read its input to the end and written out
// its output's buffer.
extern Stream gInputs[FLIGHT_CAPACITY];
extern Stream gOutputs[FLIGHT_CAPACITY];

// A stream of aPool (gInputs or gOutputs) that holds no file; null when
// every one does.
[[nodiscard]] Stream *IdleStream(Stream *aPool);

// Makes *pStream an open, empty, healthy stream over iFile.
Stream *StartStream(Stream *pStream, std::intptr_t iFile);

// Writes out the buffered bytes; false, error saved, when writing fails.
// After a failure the stream stays failed.
[[nodiscard]] bool FlushOutput(Stream *pOutput);

// Provided by the platform file.  Reads up to nSize bytes from the offset
// lAt, or from the file's position when lAt is negative: the count, 0 at
// the end of the file, -1 on failure (error saved).  Retries interruptions.
[[nodiscard]] std::ptrdiff_t ReadSome(std::intptr_t iFile, void *pBuffer, std::size_t nSize,
                                      std::int64_t lAt);

// Makes pStream, open, yield its file again from the start, as many bytes
// as the file should hold at most (an input's size when it was opened, what
// was written to an output), each read at its offset.
void StartReading(Stream *pStream);

// Provided by the platform file.  True when the output's file is still
// under its name, exactly lWritten bytes long, and written by no other
// program; false, with ERROR_CHANGED or the error of looking saved, when
// that cannot be vouched for.
[[nodiscard]] bool OutputIntact(const Stream *pOutput);

// Provided by the platform file.  Writes all nSize bytes of the output,
// carrying on after partial writes; false on failure (error saved).
[[nodiscard]] bool WriteAll(std::intptr_t iFile, const unsigned char *pData, std::size_t nSize);

}  // namespace morvane::platform
