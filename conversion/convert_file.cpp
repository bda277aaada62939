#include <algorithm>
#include <cstdio>
#include <cstring>

#include "conversion.h"
#include "platform.h"

namespace morvane {

std::int64_t lFilesConverted = 0;
std::int64_t lLinesConverted = 0;
std::int64_t lErrors = 0;
std::int64_t lWarnings = 0;

static_assert(sizeof lLinesConverted == 8, "the line count must not wrap at 2^31");

namespace {

// Replaces each LF by CR in place; returns how many there were.  Counting in
// blocks of 255 bytes keeps a one-byte counter, so that the compiler can
// compare, replace and count sixteen or more bytes at a time.
[[nodiscard]] std::size_t ConvertChunk(unsigned char *sBuffer, std::size_t nSize)
{
    std::size_t nLines = 0;
    for (std::size_t nStart = 0; nStart < nSize; nStart += 255) {
        const std::size_t nEnd = std::min(nSize, nStart + 255);
        std::uint8_t nBlockLines = 0;
        for (std::size_t i = nStart; i < nEnd; ++i) {
            const bool bLineFeed = sBuffer[i] == '\n';
            nBlockLines += bLineFeed;
            sBuffer[i] = bLineFeed ? '\r' : sBuffer[i];
        }
        nLines += nBlockLines;
    }
    return nLines;
}

// 0 when the new file as stored is the backup converted, byte for byte;
// otherwise the error that says why not.  Where no watch vouched for both
// files, this is what shows that no other program's bytes are in either
// (an edit in place of the same size, at any time granularity).
[[nodiscard]] int CompareStored(platform::Stream *pInput, platform::Stream *pOutput)
{
    if (!platform::ReadFromStart(pInput) || !platform::ReadFromStart(pOutput))
        return platform::LastError();
    unsigned char sBackup[CHUNK_SIZE];
    unsigned char sStored[CHUNK_SIZE];
    for (;;) {
        const std::size_t nBackup = platform::Read(pInput, sBackup, CHUNK_SIZE);
        const std::size_t nStored = platform::Read(pOutput, sStored, CHUNK_SIZE);
        if (platform::ReadFailed(pInput) || platform::ReadFailed(pOutput))
            return platform::LastError();
        static_cast<void>(ConvertChunk(sBackup, nBackup));
        if (nBackup != nStored || std::memcmp(sBackup, sStored, nBackup) != 0)
            return platform::ERROR_CHANGED;
        if (nBackup == 0)
            return 0;
    }
}

void ReportFailure(const char *sMessage, int iError, const char *sName)
{
    ReportError(sMessage, iError);
    platform::Print(stdout, "File name: \"%s\".\n", sName);
    ++lErrors;
}

}  // namespace

void ReportError(const char *sMessage, int iError)
{
    std::fflush(stdout);
    platform::Print(stderr, "%s: %s\n", sMessage, platform::DescribeError(iError));
}

bool ConvertFile(const platform::Search *pSearch, const char *sPathName, const char *sBackupName)
{
    if (!platform::RenameNoReplace(pSearch, sPathName, sBackupName)) {
        ReportError("Rename of input file failed", platform::LastError());
        platform::Print(stdout, "Could not rename \"%s\" to \"%s\".\n", sPathName, sBackupName);
        ++lErrors;
        return false;
    }
    platform::Stream *pInput = platform::OpenInput(pSearch, sBackupName);
    if (pInput == nullptr) {
        // What took the name after the listing (a pipe, a folder) is not
        // ours to convert or keep as a backup: it goes back as it was.
        const int iError = platform::LastError();
        if (iError == platform::ERROR_NOT_A_FILE)
            static_cast<void>(platform::RenameNoReplace(pSearch, sBackupName, sPathName));
        ReportFailure("Open of input file failed", iError, sBackupName);
        return false;
    }
    bool bDeleted;
    platform::Stream *pOutput = platform::OpenOutput(pSearch, sPathName, pInput, &bDeleted);
    if (pOutput == nullptr) {
        const int iError = platform::LastError();
        platform::CloseInput(pInput);
        // A new file that could not take on the original's attributes is
        // gone again, nothing written: the original goes back whole under
        // its own name, as it was.
        if (bDeleted)
            static_cast<void>(platform::RenameNoReplace(pSearch, sBackupName, sPathName));
        ReportFailure("Open of output file failed", iError, sPathName);
        return false;
    }

    // Until the converted file is whole and on storage, the backup is the
    // only complete copy: any failure below keeps it.
    unsigned char sBuffer[CHUNK_SIZE];
    bool bReadFailed = false;
    bool bWriteFailed = false;
    while (!platform::AtEnd(pInput)) {
        if (platform::Interrupted()) {
            ReportFailure("Error writing to output file", platform::ERROR_INTERRUPTED, sPathName);
            bWriteFailed = true;
            break;
        }
        const std::size_t nRead = platform::Read(pInput, sBuffer, CHUNK_SIZE);
        if (platform::ReadFailed(pInput)) {
            ReportFailure("Error reading input file", platform::LastError(), sBackupName);
            bReadFailed = true;
            break;
        }
        if (nRead == 0)
            break;
        lLinesConverted += static_cast<std::int64_t>(ConvertChunk(sBuffer, nRead));
        if (platform::Write(pOutput, sBuffer, nRead) < nRead) {
            ReportFailure("Error writing to output file", platform::LastError(), sPathName);
            bWriteFailed = true;
            break;
        }
    }
    if (!bReadFailed && !bWriteFailed && !platform::SyncOutput(pOutput, pSearch)) {
        ReportFailure("Error writing to output file", platform::LastError(), sPathName);
        bWriteFailed = true;
    }
    // Bytes another program wrote to the backup since it was opened would
    // go with it: then it stays, reported as a backup that was not deleted.
    bool bChanged = !bReadFailed && !bWriteFailed && !platform::InputUnchanged(pInput);
    int iChanged = platform::LastError();
    // A change that neither the watch nor the backup's size and time showed
    // is found in the bytes; which file took it cannot be told, so both stay,
    // as after a failed write.
    const bool bCompared =
        !bReadFailed && !bWriteFailed && !bChanged && !platform::Vouched(pInput, pOutput);
    if (bCompared) {
        const int iError = CompareStored(pInput, pOutput);
        if (iError != 0) {
            ReportFailure("Error writing to output file", iError, sPathName);
            bWriteFailed = true;
        }
    }
    if (!platform::CloseOutput(pOutput) && !bReadFailed && !bWriteFailed) {
        ReportFailure("Error writing to output file", platform::LastError(), sPathName);
        bWriteFailed = true;
    }
    // Once more after a comparison, which takes time: a write to a part of
    // the backup that it had passed is seen only now.
    if (bCompared && !bWriteFailed && !platform::InputUnchanged(pInput)) {
        bChanged = true;
        iChanged = platform::LastError();
    }
    platform::CloseInput(pInput);
    if (bReadFailed || bWriteFailed) {
        platform::Print(stdout, "Original file is now called \"%s\"\n", sBackupName);
        return bWriteFailed;
    }

    if (bChanged || !platform::Delete(pSearch, sBackupName)) {
        ReportError("Delete of original file failed", bChanged ? iChanged : platform::LastError());
        platform::Print(stdout, "Could not delete \"%s\".\n", sBackupName);
        ++lErrors;
    }
    ++lFilesConverted;
    return false;
}

}  // namespace morvane
