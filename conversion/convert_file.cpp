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

// A file in flight: written whole, its forcing to storage started, waiting
// for every file before it to finish.  Until it finishes nothing of it is
// printed but its name line (when nothing was in flight before it) and
// nothing of it is counted.
struct Flight {
    char sName[platform::NAME_CAPACITY];  // as listed, for its name line
    char sPathName[platform::PATH_CAPACITY];
    char sBackupName[platform::PATH_CAPACITY];
    platform::Stream *pInput;
    platform::Stream *pOutput;
    std::int64_t lLines;
    bool bNamed;  // its name line is printed
};

// The files in flight, oldest first, from aFlights[iOldest] on; the next
// one to start takes the slot after the last.
Flight aFlights[platform::FLIGHT_CAPACITY];
std::size_t iOldest = 0;
std::size_t nFlights = 0;

// Set once a file has run out of room while others were in flight: from
// then on each file finishes before the next starts, as one at a time.
bool bAlone = false;

// Files put back to be converted again, one at a time, in order.
Flight aAgain[platform::FLIGHT_CAPACITY];

void PrintName(Flight *pFile)
{
    if (!pFile->bNamed)
        platform::Print(stdout, "%s \n", pFile->sName);
    pFile->bNamed = true;
}

bool Convert(const platform::Search *pSearch, const char *sName, const char *sPathName,
             const char *sBackupName, bool bNamed);

// A failure that other files in flight may have caused, by the room or the
// descriptors that they hold: converted alone, the file might not fail.
bool MayBeTheFlights(int iError)
{
    return nFlights > 0 && !bAlone && platform::OutOfRoom(iError);
}

// Says that pFile's backup could not take its name back (iError).
void ReportStuck(Flight *pFile, int iError)
{
    PrintName(pFile);
    ReportError("Rename of input file failed", iError);
    platform::Print(stdout, "Could not rename \"%s\" to \"%s\".\n", pFile->sBackupName,
                    pFile->sPathName);
    ++lErrors;
}

// Puts pFile back as it was before it started (its backup renamed back,
// when bRenamed, in place of its new file); where the backup cannot take
// its name back, that is said.  False then.
bool UndoFile(const platform::Search *pSearch, Flight *pFile, bool bRenamed)
{
    if (!bRenamed || platform::Undo(pSearch, pFile->pInput, pFile->pOutput, pFile->sPathName,
                                    pFile->sBackupName))
        return true;
    ReportStuck(pFile, platform::LastError());
    return false;
}

// Finishes pFile once its forcing to storage has ended: checks it, deletes
// its backup and prints its lines, as a file converted alone would.
// Returns true exactly when its write failed; *pAgain instead when it ran
// out of room while later files were in flight, nothing of it printed or
// counted.
bool FinishFile(const platform::Search *pSearch, Flight *pFile, bool *pAgain)
{
    platform::Stream *pInput = pFile->pInput;
    platform::Stream *pOutput = pFile->pOutput;
    const char *sPathName = pFile->sPathName;
    const char *sBackupName = pFile->sBackupName;
    // Until the converted file is whole and on storage, the backup is the
    // only complete copy: any failure below keeps it.
    bool bWriteFailed = false;
    *pAgain = false;
    if (!platform::FinishSync(pOutput, pSearch)) {
        const int iError = platform::LastError();
        if (MayBeTheFlights(iError)) {
            *pAgain = true;
            return false;
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
    // A change that neither the watch nor the backup's size and time showed
    // is found in the bytes; which file took it cannot be told, so both stay,
    // as after a failed write.
    const bool bCompared = !bWriteFailed && !bChanged && !platform::Vouched(pInput, pOutput);
    if (bCompared) {
        const int iError = CompareStored(pInput, pOutput);
        if (iError != 0) {
            ReportFailure("Error writing to output file", iError, sPathName);
            bWriteFailed = true;
        }
    }
    if (!platform::CloseOutput(pOutput) && !bWriteFailed) {
        ReportFailure("Error writing to output file", platform::LastError(), sPathName);
        bWriteFailed = true;
    }
    // Once more after a comparison, which takes time: a write to a part of
    // the backup that it had passed is seen only now.
    if (bCompared && !bWriteFailed && !platform::InputUnchanged(pInput)) {
        bChanged = true;
        iChanged = platform::LastError();
    }
    if (bWriteFailed || bChanged)
        platform::CloseInput(pInput);
    if (bWriteFailed) {
        platform::Print(stdout, "Original file is now called \"%s\"\n", sBackupName);
        return true;
    }

    if (bChanged || !platform::DeleteInput(pSearch, pInput, sBackupName)) {
        ReportError("Delete of original file failed", bChanged ? iChanged : platform::LastError());
        platform::Print(stdout, "Could not delete \"%s\".\n", sBackupName);
        ++lErrors;
    }
    ++lFilesConverted;
    return false;
}

// Converts again, one at a time, the nAgain files of aAgain, put back
// after running out of room together.  True when one of them fails its
// write: those after it stay as they were.
bool ConvertAgain(const platform::Search *pSearch, std::size_t nAgain)
{
    // A backup still being closed holds a descriptor and its storage, the
    // very room that the file may have run out of.
    bAlone = true;
    platform::CloseBackupsAtOnce();
    // Interrupted, the run stops where it would have stopped converting one
    // file at a time: before a file it has not begun.
    for (std::size_t i = 0; i < nAgain && !platform::Interrupted(); ++i)
        if (Convert(pSearch, aAgain[i].sName, aAgain[i].sPathName, aAgain[i].sBackupName,
                    aAgain[i].bNamed))
            return true;
    return false;
}

// Finishes the oldest file in flight; when its write failed, every file
// after it is undone.  Returns true exactly then.  When it ran out of
// room, it and every file after it are put back and converted again, one
// at a time.
bool FinishOldest(const platform::Search *pSearch)
{
    Flight *pFile = &aFlights[iOldest];
    iOldest = (iOldest + 1) % platform::FLIGHT_CAPACITY;
    --nFlights;
    bool bAgain;
    const bool bFailed = FinishFile(pSearch, pFile, &bAgain);
    if (!bFailed && !bAgain)
        return false;
    std::size_t nAgain = 0;
    if (bAgain && UndoFile(pSearch, pFile, true))
        aAgain[nAgain++] = *pFile;
    for (; nFlights > 0; --nFlights) {
        Flight *pAfter = &aFlights[iOldest];
        if (UndoFile(pSearch, pAfter, true) && bAgain)
            aAgain[nAgain++] = *pAfter;
        iOldest = (iOldest + 1) % platform::FLIGHT_CAPACITY;
    }
    return bFailed || ConvertAgain(pSearch, nAgain);
}

// Before pFile, not yet in flight, reports anything: finishes every file
// before it.  When one of them failed its write, pFile is undone too (its
// backup renamed back when bRenamed) and true returned: the run stops
// where it would have stopped converting one file at a time.
bool Halted(const platform::Search *pSearch, Flight *pFile, bool bRenamed)
{
    if (FinishFiles(pSearch)) {
        UndoFile(pSearch, pFile, bRenamed);
        return true;
    }
    PrintName(pFile);
    return false;
}

// pFile, not yet in flight, failed with iError.  Where the files in flight
// may have caused it, pFile is put back and, once they have finished,
// converted again alone: *pResult then says whether the wildcard must end,
// and true is returned.  Otherwise, as Halted.
bool Retried(const platform::Search *pSearch, Flight *pFile, bool bRenamed, int iError,
             bool *pResult)
{
    if (!MayBeTheFlights(iError)) {
        *pResult = Halted(pSearch, pFile, bRenamed);
        return *pResult;
    }
    // Copied: a file converted again while those before it finish may take
    // its place.  Where it cannot be put back, that is said after their
    // lines.
    Flight file = *pFile;
    const bool bBack = !bRenamed || platform::Undo(pSearch, pFile->pInput, pFile->pOutput,
                                                   pFile->sPathName, pFile->sBackupName);
    const int iStuck = platform::LastError();
    *pResult = FinishFiles(pSearch);
    if (!bBack)
        ReportStuck(&file, iStuck);
    else if (!*pResult) {
        aAgain[0] = file;
        *pResult = ConvertAgain(pSearch, 1);
    }
    return true;
}

}  // namespace

void ReportError(const char *sMessage, int iError)
{
    std::fflush(stdout);
    platform::Print(stderr, "%s: %s\n", sMessage, platform::DescribeError(iError));
}

bool FinishFiles(const platform::Search *pSearch)
{
    while (nFlights > 0)
        if (FinishOldest(pSearch))
            return true;
    return false;
}

bool ConvertFile(const platform::Search *pSearch, const char *sName, const char *sPathName,
                 const char *sBackupName)
{
    return Convert(pSearch, sName, sPathName, sBackupName, false);
}

namespace {

// ConvertFile, for a file whose name line is printed already when bNamed.
bool Convert(const platform::Search *pSearch, const char *sName, const char *sPathName,
             const char *sBackupName, bool bNamed)
{
    Flight *pFile = &aFlights[(iOldest + nFlights) % platform::FLIGHT_CAPACITY];
    std::snprintf(pFile->sName, sizeof pFile->sName, "%s", sName);
    std::snprintf(pFile->sPathName, sizeof pFile->sPathName, "%s", sPathName);
    std::snprintf(pFile->sBackupName, sizeof pFile->sBackupName, "%s", sBackupName);
    sPathName = pFile->sPathName;
    sBackupName = pFile->sBackupName;
    pFile->pInput = pFile->pOutput = nullptr;
    pFile->lLines = 0;
    pFile->bNamed = bNamed;
    if (nFlights == 0)
        PrintName(pFile);

    bool bResult;
    if (!platform::RenameNoReplace(pSearch, sPathName, sBackupName)) {
        const int iError = platform::LastError();
        if (Retried(pSearch, pFile, false, iError, &bResult))
            return bResult;
        ReportError("Rename of input file failed", iError);
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
        if (Retried(pSearch, pFile, iError != platform::ERROR_NOT_A_FILE, iError, &bResult))
            return bResult;
        ReportFailure("Open of input file failed", iError, sBackupName);
        return false;
    }
    pFile->pInput = pInput;
    bool bDeleted;
    platform::Stream *pOutput = platform::OpenOutput(pSearch, sPathName, pInput, &bDeleted);
    if (pOutput == nullptr) {
        const int iError = platform::LastError();
        platform::CloseInput(pInput);
        pFile->pInput = nullptr;
        // A new file that could not take on the original's attributes is
        // gone again, nothing written: the original goes back whole under
        // its own name, as it was.
        if (bDeleted)
            static_cast<void>(platform::RenameNoReplace(pSearch, sBackupName, sPathName));
        if (Retried(pSearch, pFile, !bDeleted, iError, &bResult))
            return bResult;
        ReportFailure("Open of output file failed", iError, sPathName);
        return false;
    }
    pFile->pOutput = pOutput;

    unsigned char sBuffer[CHUNK_SIZE];
    const char *sFailure = nullptr;
    const char *sFailedName = sPathName;
    int iError = 0;
    while (!platform::AtEnd(pInput)) {
        if (platform::Interrupted()) {
            sFailure = "Error writing to output file";
            iError = platform::ERROR_INTERRUPTED;
            break;
        }
        const std::size_t nRead = platform::Read(pInput, sBuffer, CHUNK_SIZE);
        if (platform::ReadFailed(pInput)) {
            sFailure = "Error reading input file";
            sFailedName = sBackupName;
            iError = platform::LastError();
            break;
        }
        if (nRead == 0)
            break;
        pFile->lLines += static_cast<std::int64_t>(ConvertChunk(sBuffer, nRead));
        if (platform::Write(pOutput, sBuffer, nRead) < nRead) {
            sFailure = "Error writing to output file";
            iError = platform::LastError();
            break;
        }
    }
    if (sFailure == nullptr && !platform::StartSync(pOutput, pSearch)) {
        sFailure = "Error writing to output file";
        iError = platform::LastError();
    }
    if (sFailure == nullptr) {
        // In flight: it finishes in its turn, once as many files as can be
        // forced together are.
        ++nFlights;
        while (nFlights >= (bAlone ? 1 : platform::SyncCapacity()))
            if (FinishOldest(pSearch))
                return true;
        return false;
    }

    // Until the converted file is whole and on storage, the backup is the
    // only complete copy: the failure keeps it.
    if (Retried(pSearch, pFile, true, iError, &bResult))
        return bResult;
    lLinesConverted += pFile->lLines;
    ReportFailure(sFailure, iError, sFailedName);
    static_cast<void>(platform::CloseOutput(pOutput));
    platform::CloseInput(pInput);
    platform::Print(stdout, "Original file is now called \"%s\"\n", sBackupName);
    return sFailedName == sPathName;
}

}  // namespace

}  // namespace morvane
