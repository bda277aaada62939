#include <algorithm>
#include <cstdio>
#include <cstring>

#include "conversion.h"
#include "flights.h"
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

// 0 when the new file as stored is the backup converted, byte for byte (or,
// when bPrefix, as far as the new file goes); otherwise the error that says
// why not.  Where nothing vouched for both files, this is what shows that
// no other program's bytes are in either (an edit in place of the same
// size, at any time granularity).
[[nodiscard]] int CompareStored(platform::Stream *pInput, platform::Stream *pOutput,
                                bool bPrefix = false)
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
        if (nStored > nBackup || (nStored < nBackup && !bPrefix) ||
            std::memcmp(sBackup, sStored, nStored) != 0)
            return platform::ERROR_CHANGED;
        if (nStored < CHUNK_SIZE)  // each read fills its chunk unless the file ends
            return 0;
    }
}

void ReportFailure(const char *sMessage, int iError, const char *sName)
{
    ReportError(sMessage, iError);
    platform::Print(stdout, "File name: \"%s\".\n", sName);
    ++lErrors;
}

void PrintName(Flight *pFile)
{
    if (!pFile->bNamed)
        platform::Print(stdout, "%s \n", pFile->sName);
    pFile->bNamed = true;
}

}  // namespace

void ReportError(const char *sMessage, int iError)
{
    std::fflush(stdout);
    platform::Print(stderr, "%s: %s\n", sMessage, platform::DescribeError(iError));
}

bool ConvertFile(const platform::Search *pSearch, const char *sName, const char *sPathName,
                 const char *sBackupName)
{
    return Convert(pSearch, sName, sPathName, sBackupName, false);
}

bool Convert(const platform::Search *pSearch, const char *sName, const char *sPathName,
             const char *sBackupName, bool bNamed)
{
    Flight *pFile = NextFlight(sName, sPathName, sBackupName, bNamed);
    sPathName = pFile->sPathName;
    sBackupName = pFile->sBackupName;
    if (!platform::RenameNoReplace(pSearch, sPathName, sBackupName))
        return Stopped(pSearch, Stage::RENAME, platform::LastError(), false);
    platform::Stream *pInput = pFile->pInput = platform::OpenInput(pSearch, sBackupName);
    if (pInput == nullptr) {
        // What took the name after the listing (a pipe, a folder) is not
        // ours to convert or keep as a backup: it goes back as it was.
        const int iError = platform::LastError();
        const bool bFile = iError != platform::ERROR_NOT_A_FILE;
        if (!bFile)
            static_cast<void>(platform::RenameNoReplace(pSearch, sBackupName, sPathName));
        return Stopped(pSearch, Stage::OPEN_INPUT, iError, bFile);
    }
    platform::Stream *pOutput = pFile->pOutput = platform::OpenOutput(pSearch, sPathName, pInput);
    if (pOutput == nullptr)
        return Stopped(pSearch, Stage::OPEN_OUTPUT, platform::LastError(), true);
    // A new file that cannot take on the original's attributes goes again,
    // nothing written: the original goes back whole under its own name.
    if (!platform::KeepModel(pOutput, pInput))
        return Stopped(pSearch, Stage::KEEP_MODEL, platform::LastError(), true);

    unsigned char sBuffer[CHUNK_SIZE];
    Stage stage = Stage::WRITE;
    int iError = 0;
    while (iError == 0 && !platform::AtEnd(pInput)) {
        if (platform::Interrupted()) {
            iError = platform::ERROR_INTERRUPTED;
            break;
        }
        const std::size_t nRead = platform::Read(pInput, sBuffer, CHUNK_SIZE);
        if (platform::ReadFailed(pInput)) {
            stage = Stage::READ;
            iError = platform::LastError();
        } else if (nRead > 0) {
            pFile->lLines += static_cast<std::int64_t>(ConvertChunk(sBuffer, nRead));
            if (platform::Write(pOutput, sBuffer, nRead) < nRead)
                iError = platform::LastError();
        }
    }
    if (iError == 0 && !platform::StartSync(pOutput, pSearch))
        iError = platform::LastError();
    // Until the converted file is whole and on storage, the backup is the
    // only complete copy: the failure keeps it.
    if (iError != 0)
        return Stopped(pSearch, stage, iError, true);
    // Where what is read now is what storage will hold and the backup stays
    // watched, the new file is compared with it while it is being forced.
    if (!platform::Vouched(pInput, pOutput) && platform::ComparesEarly(pSearch, pInput))
        pFile->iCompared = CompareStored(pInput, pOutput);
    return Launch(pSearch);
}

Outcome FinishFile(const platform::Search *pSearch, Flight *pFile)
{
    platform::Stream *pInput = pFile->pInput;
    platform::Stream *pOutput = pFile->pOutput;
    const char *sPathName = pFile->sPathName;
    const char *sBackupName = pFile->sBackupName;
    pFile->pInput = pFile->pOutput = nullptr;
    // Until the converted file is whole and on storage, the backup is the
    // only complete copy: any failure below keeps it.
    bool bWriteFailed = false;
    if (!platform::FinishSync(pOutput, pSearch)) {
        const int iError = platform::LastError();
        if (MayBeTheFlights(iError)) {
            pFile->pInput = pInput;
            pFile->pOutput = pOutput;
            return Outcome::OUT_OF_ROOM;
        }
        PrintName(pFile);
        ReportFailure("Error writing to output file", iError, sPathName);
        bWriteFailed = true;
    }
    PrintName(pFile);
    lLinesConverted += pFile->lLines;
    // Bytes another program wrote to the backup since it was opened would
    // go with it: then it stays, reported as a backup that was not deleted.
    bool bChanged = !bWriteFailed && !platform::InputUnchanged(pInput);
    int iChanged = platform::LastError();
    // Where nothing vouched for both files and they were not compared as
    // the new file was forced, they are now.  A change that the backup's
    // watch, size and time did not show is found in the bytes; which file
    // took it cannot be told, so both stay, as after a failed write.
    if (!bWriteFailed && !bChanged && pFile->iCompared < 0 && !platform::Vouched(pInput, pOutput)) {
        pFile->iCompared = CompareStored(pInput, pOutput);
        // Once more after a comparison, which takes time: a write to a part
        // of the backup that it had passed is seen only now.
        if (pFile->iCompared == 0 && !platform::InputUnchanged(pInput)) {
            bChanged = true;
            iChanged = platform::LastError();
        }
    }
    if (!bWriteFailed && !bChanged && pFile->iCompared > 0) {
        ReportFailure("Error writing to output file", pFile->iCompared, sPathName);
        bWriteFailed = true;
    }
    if (!platform::CloseOutput(pOutput) && !bWriteFailed) {
        ReportFailure("Error writing to output file", platform::LastError(), sPathName);
        bWriteFailed = true;
    }
    if (bWriteFailed || bChanged)
        platform::CloseInput(pInput);
    if (bWriteFailed) {
        platform::Print(stdout, "Original file is now called \"%s\"\n", sBackupName);
        return Outcome::WRITE_FAILED;
    }
    if (bChanged || !platform::DeleteInput(pSearch, pInput, sBackupName)) {
        ReportError("Delete of original file failed", bChanged ? iChanged : platform::LastError());
        platform::Print(stdout, "Could not delete \"%s\".\n", sBackupName);
        ++lErrors;
    }
    ++lFilesConverted;
    return Outcome::FINISHED;
}

int PutBack(const platform::Search *pSearch, Flight *pFile, bool *pBackupGone)
{
    platform::Stream *pInput = pFile->pInput;
    platform::Stream *pOutput = pFile->pOutput;
    const char *sPathName = pFile->sPathName;
    const char *sBackupName = pFile->sBackupName;
    pFile->pInput = pFile->pOutput = nullptr;
    *pBackupGone = false;
    if (pOutput != nullptr) {
        // The new file is touched only while the backup is the original:
        // otherwise it may be the one whole copy left.
        int iError = 0;
        if (!platform::NamesInput(pSearch, pInput, sBackupName)) {
            iError = platform::LastError();
            *pBackupGone = true;
            static_cast<void>(platform::CloseOutput(pOutput));
        } else if (!platform::HideOutput(pSearch, pOutput, sPathName)) {
            iError = platform::LastError();
        } else {
            // Out of every program's reach by its name now, it goes only if
            // it holds nothing but what morvane wrote to it.
            iError = CompareStored(pInput, pOutput, true);
            if (iError == 0 && !platform::HiddenUnwritten(pOutput))
                iError = platform::LastError();
            if (iError != 0)
                platform::RevealOutput(pSearch, pOutput, sPathName);
        }
        if (iError != 0) {
            platform::CloseInput(pInput);
            return iError;
        }
    }
    // The new file goes only once the backup has its name back: until then
    // it may still have to stand for it.
    const bool bBack = platform::RenameBack(pSearch, pInput, sBackupName, sPathName, pBackupGone);
    const int iError = platform::LastError();
    if (pOutput != nullptr && *pBackupGone)
        platform::RevealOutput(pSearch, pOutput, sPathName);
    else if (pOutput != nullptr)
        platform::DropHidden(pOutput);
    return bBack ? 0 : iError;
}

void ReportKept(Flight *pFile, int iError, bool bBackupGone, Made made)
{
    PrintName(pFile);
    ++lErrors;
    if (made != Made::NOTHING)
        lLinesConverted += pFile->lLines;
    if (made == Made::NOTHING) {
        ReportError("Rename of input file failed", iError);
        platform::Print(stdout, "Could not rename \"%s\" to \"%s\".\n", pFile->sBackupName,
                        pFile->sPathName);
    } else if (bBackupGone && made == Made::WHOLE) {
        // Converted whole, as a file whose backup another program replaced
        // is when it finishes.
        ReportError("Delete of original file failed", iError);
        platform::Print(stdout, "Could not delete \"%s\".\n", pFile->sBackupName);
        ++lFilesConverted;
    } else {
        ReportError("Error writing to output file", iError);
        platform::Print(stdout, "File name: \"%s\".\n", pFile->sPathName);
        platform::Print(stdout, "Original file is now called \"%s\"\n", pFile->sBackupName);
    }
}

bool ReportStopped(Flight *pFile, Stage stage, int iError)
{
    PrintName(pFile);
    if (stage == Stage::RENAME) {
        ReportError("Rename of input file failed", iError);
        platform::Print(stdout, "Could not rename \"%s\" to \"%s\".\n", pFile->sPathName,
                        pFile->sBackupName);
        ++lErrors;
        return false;
    }
    const bool bWritten = stage == Stage::READ || stage == Stage::WRITE;
    if (bWritten)
        lLinesConverted += pFile->lLines;
    const char *sMessage = stage == Stage::OPEN_INPUT ? "Open of input file failed"
                           : stage == Stage::READ     ? "Error reading input file"
                           : bWritten                 ? "Error writing to output file"
                                                      : "Open of output file failed";
    const bool bBackup = stage == Stage::OPEN_INPUT || stage == Stage::READ;
    ReportFailure(sMessage, iError, bBackup ? pFile->sBackupName : pFile->sPathName);
    if (pFile->pOutput != nullptr)
        static_cast<void>(platform::CloseOutput(pFile->pOutput));
    if (pFile->pInput != nullptr)
        platform::CloseInput(pFile->pInput);
    pFile->pInput = pFile->pOutput = nullptr;
    if (bWritten)
        platform::Print(stdout, "Original file is now called \"%s\"\n", pFile->sBackupName);
    return stage == Stage::WRITE;
}

}  // namespace morvane
