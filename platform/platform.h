// The operating-system interface of morvane: directory search, file
// operations and process set-up.  One implementation file per platform
// (platform_posix.cpp, platform_win32.cpp); the build compiles exactly one.
//
// Every operation that fails saves the platform's error number before it
// returns, so that LastError() still describes that failure after later
// successful calls (a close, say).  No operation retries a failed one except
// where the platform asks for it (an interrupted call, a partial write).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace morvane::platform {

// Size of each composed name, terminating zero included.
constexpr std::size_t PATH_CAPACITY = 260;

// Size of an entry's bare name, terminating zero included: every name a
// system gives fits (255 UTF-16 units on Windows are 765 bytes of UTF-8),
// so that one too long to compose still reaches the report.
constexpr std::size_t NAME_CAPACITY = 1024;

// Most files that may be in flight at once: open, written, and being forced
// to storage while the next ones are written (SyncCapacity).
constexpr std::size_t FLIGHT_CAPACITY = 16;

// Attribute bit that marks a directory in a DirectoryEntry.
constexpr std::uint32_t ATTRIBUTE_DIRECTORY = 0x10;

struct DirectoryEntry {
    std::uint32_t uAttributes;  // ATTRIBUTE_DIRECTORY or 0
    char sName[NAME_CAPACITY];  // bare name, no directory
};

struct Search;  // one running directory search
struct Stream;  // one open, buffered file (stream.h)

// Error number this platform gives a name that does not fit PATH_CAPACITY.
extern const int ERROR_NAME_TOO_LONG;

// Error number of a step cut short by an interrupt.
extern const int ERROR_INTERRUPTED;

// Error number of a file that changed while morvane was converting it.
extern const int ERROR_CHANGED;

// Error number of an entry that is not a regular file (a folder, a link, a
// pipe) where a file was expected.
extern const int ERROR_NOT_A_FILE;

// True when iError says that the storage, a quota, or the process's or the
// system's open files ran out.
[[nodiscard]] bool OutOfRoom(int iError);

// Makes the process fit for a console tool; call once, first.  From then
// on a file-size limit makes a write fail instead of ending the process,
// and an interrupt (Ctrl-C, a closed terminal or console, a polite kill, a
// CPU-time limit reached; not one the process was started to ignore) only
// raises Interrupted(), so
// that the run can be wound up in order.
void StartProcess();

// True once an interrupt has come.
[[nodiscard]] bool Interrupted();

// After an interrupt: delivers everything printed and ends the process as
// that interrupt would have ended it.  Returns otherwise.
void EndIfInterrupted();

// Formats and writes to pStream (stdout or stderr) as std::fprintf does.
// Every format ends in its one "\n".  On a terminal or console, what else in
// the text (a name, say) the terminal would act on or hide is shown escaped
// (FormatForTerminal), so that no name can move the cursor, start a line of
// its own or hide a character; a file or a pipe receives the bytes as they
// are.  On a console the text shows in its own
// characters, names in any script included, and the console is left as it
// was.
[[gnu::format(printf, 2, 3)]] void Print(std::FILE *pStream, const char *sFormat, ...);

// Exit status that reports lErrors errors: the count itself where the
// platform keeps it whole, otherwise the largest status that still says so.
[[nodiscard]] int ExitStatus(std::int64_t lErrors);

// The error number saved by the most recent failing operation.
[[nodiscard]] int LastError();

// Standard description of an error number; never null, never empty.
[[nodiscard]] const char *DescribeError(int iError);

// Length of the directory prefix of sWildcard: everything up to and
// including its last directory separator; 0 when it names none.  The search
// looks in that directory and names are composed from the same prefix.
[[nodiscard]] std::size_t DirectoryPrefixLength(const char *sWildcard);

// Starts a search for the entries of the prefix's directory whose names
// match the last component of sWildcard.  Only files and directories are
// yielded; on Windows a wildcard matches long names only, never an entry
// by its 8.3 short name alone.  On success fills *pEntry with the first match and returns the
// search; returns null when nothing matches or the search cannot start.
// One search runs at a time.
[[nodiscard]] Search *FindFirst(const char *sWildcard, DirectoryEntry *pEntry);

// Fills *pEntry with the next match; false when there is none (or on error).
[[nodiscard]] bool FindNext(Search *pSearch, DirectoryEntry *pEntry);

// Ends a search that FindFirst started.
void FindClose(Search *pSearch);

// The file operations below act on entries that the running search pSearch
// found, named as the messages show them: the wildcard's directory prefix,
// then the entry's own name or its backup name.  What follows the prefix is
// the name exactly as the search gave it, never read again from the
// composed name (which may hold what looks like a separator or a drive).
// On POSIX it is looked up in the directory that the search holds open, so
// that a conversion stays in the folder that was listed whatever has become
// of its path since (renamed, or replaced by a symbolic link).  On Windows
// the search holds its folder so that no program can rename or replace it
// meanwhile; a trailing blank or dot is not dropped, and a name that holds
// a separator cannot be addressed and fails with the system's error.

// Renames sFrom to sTo; fails, renaming nothing, when sTo exists.
[[nodiscard]] bool RenameNoReplace(const Search *pSearch, const char *sFrom, const char *sTo);

// Closes pInput and deletes its file, the backup sName, only while the name
// still names that file: one that another program saved under it meanwhile
// stays, and the delete fails with ERROR_CHANGED.  The file's storage may
// be given back after the return.  False, error number saved, when the
// file stays; pInput is closed either way.
[[nodiscard]] bool DeleteInput(const Search *pSearch, Stream *pInput, const char *sName);

// Opens the existing regular file sName for binary reading; null on failure,
// with ERROR_NOT_A_FILE when sName is something else.  Where another
// program holds a lease on the file, waits as a blocking open does until it
// has given way; nothing else (a pipe slipped in under the name) can make
// it wait.  From then on the file is watched for writes by other programs
// (InputUnchanged).  At most SyncCapacity() input streams are open at a
// time.
[[nodiscard]] Stream *OpenInput(const Search *pSearch, const char *sName);

// Reads up to nSize bytes; the count is short only at the end of the file or
// on a read error.  Meeting the end sets AtEnd(); after that every read
// yields 0.  An error sets ReadFailed() and saves the error number.
[[nodiscard]] std::size_t Read(Stream *pInput, void *pBuffer, std::size_t nSize);
[[nodiscard]] bool AtEnd(const Stream *pInput);
[[nodiscard]] bool ReadFailed(const Stream *pInput);

// True when no other program has had the input's file open for writing
// since before it was opened (where the system can tell: Linux's leases),
// and it still has the size and modification time it had then; false, with
// ERROR_CHANGED or the error of looking saved, when another program has
// written to it or may have, or it cannot be told.
[[nodiscard]] bool InputUnchanged(const Stream *pInput);

// True when the system kept every other program from writing either
// stream's file from its opening until now, so that each holds exactly what
// morvane read or wrote: on Windows, files that no other program may open
// for writing.  False where it cannot be vouched for (every POSIX system,
// where no program is kept from opening either file): the files themselves
// must then be compared (ReadFromStart).
[[nodiscard]] bool Vouched(const Stream *pInput, const Stream *pOutput);

// True when the new file of pInput, in pSearch's folder, may be compared
// with its backup as soon as it is written, while it is being forced to
// storage: it reads back what its storage will hold (every program's writes
// pass through this system: a local filesystem), and the backup is watched
// from now until it is deleted, so that a write to it after the comparison
// still shows.  Where either is not so (FUSE and network filesystems, whose
// storage may take writes that this system's cache never sees; a backup no
// lease watches), compare only once FinishSync has seen the file stored.
[[nodiscard]] bool ComparesEarly(const Search *pSearch, const Stream *pInput);

// Starts reading pStream's file again from its start, as stored rather than
// as a cache may still hold it: an input, or an output once written out.
// The re-read yields at most as many bytes as the file should hold (an
// input's size when it was opened, what was written to an output), so that
// a longer file shows only in its size (InputUnchanged, OutputIntact) and a
// shorter one in what the re-read yields.  An output's modification time
// is noted as it is read again: OutputIntact fails from then on once it
// changes.  Only one stream is read at a
// time: the streams share their buffers.  Read, AtEnd and ReadFailed then
// serve it as an input.  False, error number saved, when it cannot be read
// again.
[[nodiscard]] bool ReadFromStart(Stream *pStream);

// Closes an input stream.  Leaves LastError() as it was.
void CloseInput(Stream *pInput);

// Creates sName for binary writing; fails if anything exists under the
// name.  The new file is private to its owner until KeepModel.  pModel is
// the input it will be made from (on Windows its hidden and system
// attributes are given at once).  Null on failure.  At most SyncCapacity()
// output streams at a time.
[[nodiscard]] Stream *OpenOutput(const Search *pSearch, const char *sName, const Stream *pModel);

// Gives the new, still empty file of pOutput what it keeps of pModel's
// file: before anything is written to it and while its owner may still
// write it, whatever the process's umask, every extended attribute that the
// platform keeps, as far as the process and the filesystem allow
// (posix_system.h, KeepAttributes); then the owner, group and permission
// bits, as far as the process may give them.  False, error number saved,
// when an attribute cannot be read or given for any other reason (a list
// too long to read, a full filesystem, an I/O error): the new file stays,
// empty, for the caller to put back.
[[nodiscard]] bool KeepModel(Stream *pOutput, const Stream *pModel);

// Buffers or writes nSize bytes; returns how many were accepted, short when
// writing failed (error number saved).  After a failure it accepts nothing.
// Before each block but the first reaches the file, the file is checked to
// be still under its name and as long as what was written; otherwise
// writing fails with ERROR_CHANGED, and the file is left as the other
// program made it.
[[nodiscard]] std::size_t Write(Stream *pOutput, const void *pBuffer, std::size_t nSize);

// How many files may be between StartSync and FinishSync at once: more
// than 1 where the system can force several files to storage together from
// this one thread (Linux's io_uring), so that their flushes share the
// storage's commits; 1 where each is forced on its own, or the system
// refuses (an old kernel, io_uring disabled, a seccomp profile that denies
// it).  At most FLIGHT_CAPACITY; the same for the whole run.
[[nodiscard]] std::size_t SyncCapacity();

// From now on each file is converted alone: waits until every backup that
// DeleteInput left to be closed away from this thread is closed, its
// descriptor and storage given back, and closes each later one at once.
void CloseBackupsAtOnce();

// Writes what is buffered and, where SyncCapacity() > 1, starts forcing the
// file's data and then its entry in the searched folder to stable storage.
// False, error number saved, when writing fails.
[[nodiscard]] bool StartSync(Stream *pOutput, const Search *pSearch);

// Once StartSync has succeeded: forces the file's data, and then its entry
// in the searched folder, to stable storage, or waits until what StartSync
// started has ended; then checks the file once more as Write does.  A
// filesystem that cannot force a folder at all is taken at its word; any
// other failure to force it fails.  False, error number saved, when any of
// it fails.  Signals do not cut it short.
[[nodiscard]] bool FinishSync(Stream *pOutput, const Search *pSearch);

// Putting a file back where its conversion must not count (a file before it
// failed, or it ran out of room while others were in flight, or its new
// file could not take the original's attributes), in this order, so that
// whatever kills morvane in between, sBackupName names nothing but the
// original: the new file is hidden, checked, the backup renamed back, and
// only then the new file deleted.  Only POSIX systems put files back.

// True when sName, a backup, still names pInput's file: the file that was
// read.  False, ERROR_CHANGED or the error of looking saved, when another
// program's file has taken the name, or it is gone.
[[nodiscard]] bool NamesInput(const Search *pSearch, const Stream *pInput, const char *sName);

// Awaits what StartSync started for pOutput, then takes the name sName away
// from the output's file in one step: the file keeps a private name in the
// same folder, so that no program can open it by sName any more, while a
// file that another program put under sName stays there.  Reopens it to be
// read again from its start (ReadFromStart yields as many bytes as it
// holds) and watched, where the system can, for any program that has it
// open to write or opens it so.  False, error number saved, when the file
// stays under sName, closed: ERROR_CHANGED when sName names another file,
// the file is longer than anything written to it, or another program has
// it open to write.
[[nodiscard]] bool HideOutput(const Search *pSearch, Stream *pOutput, const char *sName);

// True when the hidden file of pOutput has held still since HideOutput:
// just as long, and no other program has opened it to write.  False, with
// ERROR_CHANGED or the error of looking saved, otherwise.
[[nodiscard]] bool HiddenUnwritten(const Stream *pOutput);

// Gives the hidden file of pOutput its name sName back, replacing nothing,
// and closes it; where another file has taken sName, it stays under its
// private name.
void RevealOutput(const Search *pSearch, Stream *pOutput, const char *sName);

// Deletes the hidden file of pOutput and closes it.
void DropHidden(Stream *pOutput);

// Closes pInput (which may be null, the backup not having been opened:
// then whatever sBackupName names goes back) and gives the backup
// sBackupName its name sName back, which must be free, only while
// sBackupName still names pInput's file.  Nothing found under sName meanwhile
// is ever moved.  False, error number saved, when the original is not
// back under sName; *pGone is then set when sBackupName no longer names
// the file that was read.
[[nodiscard]] bool RenameBack(const Search *pSearch, Stream *pInput, const char *sBackupName,
                              const char *sName, bool *pGone);

// Closes an output stream, dropping anything StartSync has not written.
// Once FinishSync has seen it whole, the file takes the attributes of
// its model that the platform keeps apart from the permission bits (on
// Windows read-only, hidden, system and archive); a refusal goes unsaid.
// False, error number saved, when the close itself fails.
[[nodiscard]] bool CloseOutput(Stream *pOutput);

}  // namespace morvane::platform
