// Win32 implementation of the platform interface.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "console.h"
#include "platform.h"
#include "stream.h"
#include "win32_match.h"

// The C runtime must not expand wildcards in the arguments: morvane does.
extern "C" {
int _dowildcard = 0;
}

namespace morvane::platform {

const int ERROR_NAME_TOO_LONG = ERROR_FILENAME_EXCED_RANGE;
const int ERROR_INTERRUPTED = ERROR_CANCELLED;
const int ERROR_CHANGED = ERROR_BUSY;
const int ERROR_NOT_A_FILE = 0x20000001;  // the customer bit: no system error has it

bool OutOfRoom(int iError)
{
    return iError == ERROR_DISK_FULL || iError == ERROR_HANDLE_DISK_FULL ||
           iError == ERROR_TOO_MANY_OPEN_FILES;
}

namespace {

// Characters in the longest path the file functions take.
constexpr std::size_t LONG_PATH = 32768;

// The attributes a user sets with attrib, which a converted file keeps.
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

}  // namespace

struct Search {
    std::size_t nPrefix;      // of the wildcard, and so of every composed name
    const wchar_t *sPattern;  // its last component, when it holds * or ?
    HANDLE hFind;
    HANDLE hFolder;              // the searched folder, held so that it cannot be renamed
    wchar_t sFolder[LONG_PATH];  // "\\?\" and its full path, ending in "\"
    std::size_t nFolder;
};

namespace {

DWORD dwLastError = 0;
Search gSearch;
HANDLE hConsoleOut, hConsoleError;  // null unless that stream is a console
volatile LONG lInterrupt = 0;       // the console event that interrupted the run, plus 1

// Runs on a thread of its own.  Ctrl-C and Ctrl-Break are handled here, and
// the run goes on to wind up.  A closed console, a logoff or a shutdown end
// the process as soon as this returns: it waits instead, for the run to
// end it (the system allows a few seconds).
BOOL WINAPI OnControl(DWORD dwEvent)
{
    InterlockedExchange(&lInterrupt, static_cast<LONG>(dwEvent) + 1);
    if (dwEvent != CTRL_C_EVENT && dwEvent != CTRL_BREAK_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

wchar_t sOutputPath[LONG_PATH];  // the output stream's file
DWORD dwOutputAttributes;        // the attributes it takes once whole
bool bOutputWhole;               // written and forced to storage

// Saves the thread's last error as that of the failing operation.
bool Fail()
{
    dwLastError = GetLastError();
    return false;
}

HANDLE HandleOf(const Stream *pStream)
{
    return reinterpret_cast<HANDLE>(pStream->iFile);
}

// The size and last write time of an open file, and its attributes.
bool Stamp(HANDLE hFile, std::int64_t *pSize, std::int64_t *pTime, DWORD *pAttributes = nullptr)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(hFile, &info))
        return false;
    if (pAttributes != nullptr)
        *pAttributes = info.dwFileAttributes;
    *pSize = static_cast<std::int64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    *pTime = static_cast<std::int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
             info.ftLastWriteTime.dwLowDateTime;
    return true;
}

// Makes pSearch->sFolder the folder that the first nPrefix bytes of
// sWildcard name ("." for none) as a path that the file functions take as it
// is: "\\?\" and its full path, ending in "\".  False, error saved, when
// it cannot be had.
bool SetFolder(Search *pSearch, const char *sWildcard, std::size_t nPrefix)
{
    static wchar_t sPrefix[LONG_PATH], sFull[LONG_PATH];
    const int nWide = nPrefix == 0
                          ? 0
                          : MultiByteToWideChar(CP_ACP, 0, sWildcard, static_cast<int>(nPrefix),
                                                sPrefix, static_cast<int>(LONG_PATH - 1));
    if (nPrefix > 0 && nWide == 0)
        return Fail();
    sPrefix[nWide] = L'\0';
    const DWORD nFull = GetFullPathNameW(nWide == 0 ? L".\\" : sPrefix, LONG_PATH, sFull, nullptr);
    if (nFull == 0 || nFull >= LONG_PATH - 8)
        return Fail();
    // Already "\\?\" or "\\.\"; a share "\\server\share" becomes "\\?\UNC\server\share".
    const bool bDevice =
        sFull[0] == L'\\' && sFull[1] == L'\\' && (sFull[2] == L'?' || sFull[2] == L'.');
    const bool bShare = !bDevice && sFull[0] == L'\\' && sFull[1] == L'\\';
    std::wcscpy(pSearch->sFolder, bDevice ? L"" : bShare ? L"\\\\?\\UNC" : L"\\\\?\\");
    std::wcscat(pSearch->sFolder, sFull + (bShare ? 1 : 0));
    pSearch->nFolder = std::wcslen(pSearch->sFolder);
    if (pSearch->sFolder[pSearch->nFolder - 1] != L'\\') {
        pSearch->sFolder[pSearch->nFolder++] = L'\\';
        pSearch->sFolder[pSearch->nFolder] = L'\0';
    }
    return true;
}

// sName's entry in the searched folder as a path that the file functions
// take as it is: a name that ends in a blank or a dot keeps it, and so is
// never taken for another file's.  Null, error saved, when it cannot be made,
// or when the name holds a separator (as a folder's file, under wine, can)
// and so would address another file.
const wchar_t *InFolder(const Search *pSearch, const char *sName, wchar_t *sPath)
{
    const char *sEntry = sName + pSearch->nPrefix;
    if (std::strpbrk(sEntry, "\\/") != nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return Fail(), nullptr;
    }
    std::memcpy(sPath, pSearch->sFolder, pSearch->nFolder * sizeof *sPath);
    const int nWide = MultiByteToWideChar(CP_ACP, 0, sEntry, -1, sPath + pSearch->nFolder,
                                          static_cast<int>(LONG_PATH - pSearch->nFolder));
    return nWide != 0 ? sPath : (Fail(), nullptr);
}

// Copies a search result into *pEntry unless morvane leaves it alone:
// reparse points (symbolic links, junctions) are not files to convert, and
// a wildcard does not take a name whose short form alone matched it.
bool Accept(const Search *pSearch, const WIN32_FIND_DATAW &data, DirectoryEntry *pEntry)
{
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (pSearch->sPattern != nullptr && !MatchesLongName(pSearch->sPattern, data.cFileName)))
        return false;
    pEntry->uAttributes =
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ATTRIBUTE_DIRECTORY : 0;
    return WideCharToMultiByte(CP_ACP, 0, data.cFileName, -1, pEntry->sName, NAME_CAPACITY, nullptr,
                               nullptr) != 0;
}

}  // namespace

bool SameIgnoringCase(wchar_t cOne, wchar_t cOther)
{
    return CompareStringOrdinal(&cOne, 1, &cOther, 1, TRUE) == CSTR_EQUAL;
}

void StartProcess()
{
    // A wildcard on an empty drive must fail, not ask the user.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD dwMode;
    hConsoleOut = GetStdHandle(STD_OUTPUT_HANDLE);
    hConsoleOut = GetConsoleMode(hConsoleOut, &dwMode) ? hConsoleOut : nullptr;
    hConsoleError = GetStdHandle(STD_ERROR_HANDLE);
    hConsoleError = GetConsoleMode(hConsoleError, &dwMode) ? hConsoleError : nullptr;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

bool Interrupted()
{
    return lInterrupt != 0;
}

void EndIfInterrupted()
{
    if (lInterrupt == 0)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(STATUS_CONTROL_C_EXIT);  // what a console shows for Ctrl-C
}

// Names are UTF-8 here (the manifest sets the process code page).  A file or
// a pipe receives those bytes; a console is given the text as UTF-16, which
// it shows whatever its own code page.  Switching the console to UTF-8 and
// back instead would leave it switched, for every later program in that
// window, whenever the process is stopped before it can switch back.
void Print(std::FILE *pStream, const char *sFormat, ...)
{
    std::va_list args;
    va_start(args, sFormat);
    const HANDLE hConsole = pStream == stdout ? hConsoleOut : hConsoleError;
    if (hConsole == nullptr) {
        std::vfprintf(pStream, sFormat, args);
        va_end(args);
        return;
    }
    static wchar_t sWide[1 << 17];
    std::size_t nShown;
    const char *sShown = FormatForTerminal(sFormat, args, &nShown);
    va_end(args);
    const int nWide = MultiByteToWideChar(CP_UTF8, 0, sShown, static_cast<int>(nShown), sWide,
                                          static_cast<int>(sizeof sWide / sizeof *sWide));
    DWORD nWritten;
    for (int iStart = 0, i = 0; i <= nWide; ++i) {  // each "\n" as the console's CR LF
        if (i < nWide && sWide[i] != L'\n')
            continue;
        WriteConsoleW(hConsole, sWide + iStart, static_cast<DWORD>(i - iStart), &nWritten, nullptr);
        if (i < nWide)
            WriteConsoleW(hConsole, L"\r\n", 2, &nWritten, nullptr);
        iStart = i + 1;
    }
}

int ExitStatus(std::int64_t lErrors)
{
    return static_cast<int>(std::min<std::int64_t>(lErrors, INT_MAX));
}

int LastError()
{
    return static_cast<int>(dwLastError);
}

const char *DescribeError(int iError)
{
    switch (iError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return "Permission denied";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "File exists";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "No space left on device";
    case ERROR_TOO_MANY_OPEN_FILES:
        return "Too many open files";
    case ERROR_FILENAME_EXCED_RANGE:
        return "File name too long";
    case ERROR_FILE_TOO_LARGE:
        return "File too large";
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_IO_DEVICE:
        return "Input/output error";
    case ERROR_NOT_A_FILE:
        return "Not a regular file";
    }
    static char sText[256];
    DWORD nText =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(iError), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), sText,
                       sizeof sText, nullptr);
    while (nText > 0 && std::strchr("\r\n .", sText[nText - 1]) != nullptr)
        sText[--nText] = '\0';
    if (nText == 0)
        std::snprintf(sText, sizeof sText, "Unknown error %d", iError);
    return sText;
}

std::size_t DirectoryPrefixLength(const char *sWildcard)
{
    // "C:*.txt" searches the current directory of drive C and composes
    // "C:a.txt", which names the file in that same directory.
    std::size_t nPrefix =
        std::isalpha(static_cast<unsigned char>(sWildcard[0])) && sWildcard[1] == ':' ? 2 : 0;
    for (std::size_t i = nPrefix; sWildcard[i] != '\0'; ++i)
        if (sWildcard[i] == '\\' || sWildcard[i] == '/')
            nPrefix = i + 1;
    return nPrefix;
}

Search *FindFirst(const char *sWildcard, DirectoryEntry *pEntry)
{
    static wchar_t sWide[LONG_PATH];
    gSearch.hFind = gSearch.hFolder = INVALID_HANDLE_VALUE;
    gSearch.nPrefix = DirectoryPrefixLength(sWildcard);
    if (!SetFolder(&gSearch, sWildcard, gSearch.nPrefix) ||
        MultiByteToWideChar(CP_ACP, 0, sWildcard, -1, sWide, LONG_PATH) == 0)
        return nullptr;
    // A name given without * or ? names its file by either of its names.
    const wchar_t *sPattern = sWide + std::wcslen(sWide);
    while (sPattern > sWide && sPattern[-1] != L'\\' && sPattern[-1] != L'/' &&
           sPattern[-1] != L':')
        --sPattern;
    gSearch.sPattern = std::wcspbrk(sPattern, L"*?") != nullptr ? sPattern : nullptr;
    // While a handle without FILE_SHARE_DELETE is open on the folder, no
    // program can rename, delete or replace it, so the names composed from
    // the wildcard keep naming the folder that was searched.  A folder that
    // cannot be held this way is still searched.
    gSearch.hFolder =
        CreateFileW(gSearch.sFolder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    WIN32_FIND_DATAW data;
    gSearch.hFind = FindFirstFileW(sWide, &data);
    if (gSearch.hFind != INVALID_HANDLE_VALUE &&
        (Accept(&gSearch, data, pEntry) || FindNext(&gSearch, pEntry)))
        return &gSearch;
    FindClose(&gSearch);
    return nullptr;
}

bool FindNext(Search *pSearch, DirectoryEntry *pEntry)
{
    WIN32_FIND_DATAW data;
    while (FindNextFileW(pSearch->hFind, &data))
        if (Accept(pSearch, data, pEntry))
            return true;
    return false;
}

void FindClose(Search *pSearch)
{
    if (pSearch->hFind != INVALID_HANDLE_VALUE)
        ::FindClose(pSearch->hFind);
    if (pSearch->hFolder != INVALID_HANDLE_VALUE)
        CloseHandle(pSearch->hFolder);
    pSearch->hFind = pSearch->hFolder = INVALID_HANDLE_VALUE;
}

bool RenameNoReplace(const Search *pSearch, const char *sFrom, const char *sTo)
{
    static wchar_t sFromPath[LONG_PATH], sToPath[LONG_PATH];
    return (InFolder(pSearch, sFrom, sFromPath) && InFolder(pSearch, sTo, sToPath) &&
            MoveFileW(sFromPath, sToPath)) ||
           Fail();
}

namespace {

// Deletes the open file hFile, whose attributes are dwAttributes.  Windows
// deletes no read-only file, so the attribute is dropped first (and put back
// if the delete fails), but only where the file had it when it was read
// (dwRead) too: then it is morvane's backup's own, which the converted file
// has taken.  One that another program set since keeps the file.
bool DeleteOpenFile(HANDLE hFile, DWORD dwAttributes, DWORD dwRead)
{
    const bool bReadOnly = (dwAttributes & dwRead & FILE_ATTRIBUTE_READONLY) != 0;
    FILE_BASIC_INFO basic{};  // times of 0 are left as they are, and so would attributes of 0
    basic.FileAttributes = dwAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (bReadOnly && !SetFileInformationByHandle(hFile, FileBasicInfo, &basic, sizeof basic))
        return Fail();
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(hFile, FileDispositionInfo, &disposition, sizeof disposition))
        return true;
    Fail();
    basic.FileAttributes = dwAttributes;
    if (bReadOnly)
        SetFileInformationByHandle(hFile, FileBasicInfo, &basic, sizeof basic);
    return false;
}

// Deletes the backup sName, the file that pInput read, only while the name
// still names that file; ERROR_CHANGED otherwise.
bool DeleteBackup(const Search *pSearch, const Stream *pInput, const char *sName)
{
    // A file that another program saved under the backup's name meanwhile
    // is that program's: the name is opened, and the file deleted through
    // that handle, only when it is the one that was read.  It is opened to
    // write attributes only where it must lose read-only: another user's
    // file may not allow that.
    static wchar_t sPath[LONG_PATH];
    const DWORD dwAccess =
        DELETE | FILE_READ_ATTRIBUTES |
        ((pInput->uMode & FILE_ATTRIBUTE_READONLY) != 0 ? FILE_WRITE_ATTRIBUTES : 0);
    HANDLE hFile =
        InFolder(pSearch, sName, sPath)
            ? CreateFileW(sPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr)
            : INVALID_HANDLE_VALUE;
    if (hFile == INVALID_HANDLE_VALUE)
        return Fail();
    BY_HANDLE_FILE_INFORMATION info;
    bool bDeleted = false;
    if (!GetFileInformationByHandle(hFile, &info))
        Fail();
    else if (info.dwVolumeSerialNumber != pInput->uVolume ||
             ((std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow) != pInput->uIndex)
        dwLastError = ERROR_CHANGED;
    else
        bDeleted = DeleteOpenFile(hFile, info.dwFileAttributes, pInput->uMode);
    CloseHandle(hFile);
    return bDeleted;
}

}  // namespace

bool DeleteInput(const Search *pSearch, Stream *pInput, const char *sName)
{
    // Open, the file could not be deleted by name.
    CloseInput(pInput);
    return DeleteBackup(pSearch, pInput, sName);
}

std::ptrdiff_t ReadSome(std::intptr_t iFile, void *pBuffer, std::size_t nSize, std::int64_t lAt)
{
    // A synchronous handle reads at the offset an OVERLAPPED gives.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(lAt);
    at.OffsetHigh = static_cast<DWORD>(lAt >> 32);
    DWORD nRead = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(iFile), pBuffer,
                  static_cast<DWORD>(std::min<std::size_t>(nSize, 1u << 30)), &nRead,
                  lAt < 0 ? nullptr : &at) &&
        GetLastError() != ERROR_HANDLE_EOF)
        return Fail(), -1;
    return nRead;
}

bool WriteAll(std::intptr_t iFile, const unsigned char *pData, std::size_t nSize)
{
    while (nSize > 0) {
        DWORD nWritten = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(iFile), pData,
                       static_cast<DWORD>(std::min<std::size_t>(nSize, 1u << 30)), &nWritten,
                       nullptr))
            return Fail();
        if (nWritten == 0) {
            dwLastError = ERROR_DISK_FULL;  // stored nothing and said nothing
            return false;
        }
        pData += nWritten;
        nSize -= nWritten;
    }
    return true;
}

Stream *OpenInput(const Search *pSearch, const char *sName)
{
    static wchar_t sPath[LONG_PATH];
    // No other program may write the backup while it is read: one that has
    // it open for writing already makes this open fail.
    HANDLE hFile = InFolder(pSearch, sName, sPath)
                       ? CreateFileW(sPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                       : INVALID_HANDLE_VALUE;
    if (hFile == INVALID_HANDLE_VALUE) {
        Fail();
        const DWORD dwAttributes = GetFileAttributesW(sPath);
        if (dwAttributes != INVALID_FILE_ATTRIBUTES &&
            (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            dwLastError = ERROR_NOT_A_FILE;
        return nullptr;
    }
    Stream *pInput = StartStream(&gInputs[0], reinterpret_cast<std::intptr_t>(hFile));
    DWORD dwAttributes;
    if (!Stamp(hFile, &pInput->lOpenSize, &pInput->lOpenTime, &dwAttributes)) {
        Fail();
        CloseHandle(hFile);
        return nullptr;
    }
    pInput->uMode = dwAttributes & KEPT_ATTRIBUTES;
    BY_HANDLE_FILE_INFORMATION identity{};
    GetFileInformationByHandle(hFile, &identity);
    pInput->uVolume = identity.dwVolumeSerialNumber;
    pInput->uIndex = (std::uint64_t{identity.nFileIndexHigh} << 32) | identity.nFileIndexLow;
    return pInput;
}

bool InputUnchanged(const Stream *pInput)
{
    std::int64_t lSize, lTime;
    if (!Stamp(HandleOf(pInput), &lSize, &lTime))
        return Fail();
    if (lSize == pInput->lOpenSize && lTime == pInput->lOpenTime)
        return true;
    dwLastError = ERROR_CHANGED;
    return false;
}

bool Vouched(const Stream *, const Stream *)
{
    // Neither file is shared for writing while it is open, on a network
    // share too: no other program can have written either.
    return true;
}

bool ReadFromStart(Stream *pStream)
{
    StartReading(pStream);
    return true;
}

bool ComparesEarly(const Search *, const Stream *)
{
    return false;
}

void CloseInput(Stream *pInput)
{
    CloseHandle(HandleOf(pInput));
}

Stream *OpenOutput(const Search *pSearch, const char *sName, const Stream *pModel)
{
    // What it keeps of its model is given as it is created, or once it is
    // written (CloseOutput): nothing can fail in between.
    // Never emptied: whatever appeared under the name since the rename is
    // another program's file.  No other program may write, rename or delete
    // it while it is written.  Hidden and system from the start; read-only
    // only once it is written (CloseOutput).
    bOutputWhole = false;
    dwOutputAttributes = pModel->uMode;
    const DWORD dwCreate = dwOutputAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    HANDLE hFile =
        InFolder(pSearch, sName, sOutputPath)
            ? CreateFileW(sOutputPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_NEW, dwCreate != 0 ? dwCreate : FILE_ATTRIBUTE_NORMAL, nullptr)
            : INVALID_HANDLE_VALUE;
    if (hFile == INVALID_HANDLE_VALUE) {
        Fail();
        return nullptr;
    }
    return StartStream(&gOutputs[0], reinterpret_cast<std::intptr_t>(hFile));
}

bool KeepModel(Stream *, const Stream *)
{
    return true;
}

bool OutputIntact(const Stream *)
{
    // Shared for reading only, and not for delete: nothing else can touch it.
    return true;
}

std::size_t SyncCapacity()
{
    // One file at a time: the one input and the one output stream.
    return 1;
}

void CloseBackupsAtOnce()
{
}

bool StartSync(Stream *pOutput, const Search *)
{
    return FlushOutput(pOutput);
}

// Nothing is ever put back here: one file at a time, and nothing to keep
// that can fail once the new file is made.
bool NamesInput(const Search *, const Stream *, const char *)
{
    dwLastError = ERROR_NOT_SUPPORTED;
    return false;
}

bool HideOutput(const Search *, Stream *, const char *)
{
    dwLastError = ERROR_NOT_SUPPORTED;
    return false;
}

bool HiddenUnwritten(const Stream *)
{
    dwLastError = ERROR_NOT_SUPPORTED;
    return false;
}

void RevealOutput(const Search *, Stream *, const char *)
{
}

void DropHidden(Stream *)
{
}

bool RenameBack(const Search *, Stream *, const char *, const char *, bool *pGone)
{
    *pGone = false;
    dwLastError = ERROR_NOT_SUPPORTED;
    return false;
}

bool FinishSync(Stream *pOutput, const Search *)
{
    if (!FlushFileBuffers(HandleOf(pOutput))) {
        pOutput->bFailed = true;
        return Fail();
    }
    bOutputWhole = true;
    return true;
}

bool CloseOutput(Stream *pOutput)
{
    if (!CloseHandle(HandleOf(pOutput)))
        return Fail();
    // As on POSIX, where a refused chmod is not a failed conversion, a file
    // that cannot take its attributes is still whole.
    if (bOutputWhole)
        SetFileAttributesW(sOutputPath,
                           dwOutputAttributes != 0 ? dwOutputAttributes : FILE_ATTRIBUTE_NORMAL);
    return true;
}

}  // namespace morvane::platform
