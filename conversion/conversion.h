// Wildcard conversion: expands a wildcard and converts each matching file
// from LF to CR line ends through a ".unix" backup.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

namespace platform {
struct Search;
}

// The run tally: zero at start, never reset.  64-bit so that a file of
// several gigabytes of line feeds cannot wrap the line count.
extern std::int64_t lFilesConverted;
extern std::int64_t lLinesConverted;
extern std::int64_t lErrors;
extern std::int64_t lWarnings;

constexpr std::size_t CHUNK_SIZE = 5000;
constexpr char BACKUP_SUFFIX[] = ".unix";

// Converts every file that sWildcard matches; reports each failure and adds
// to the tally.  Stops at the first write failure.
void ProcessWildcard(const char *sWildcard);

// Converts sPathName, the entry sName that pSearch found, through its
// backup sBackupName, both in the folder that pSearch searched.  Where the
// system forces several files to storage at once, the file may still be in
// flight on return, and it finishes (its backup deleted, its lines printed
// and counted) after every file before it, as if each were converted
// alone (flights.h).  Returns true exactly when the wildcard must end:
// writing the converted file failed, or that of a file before it, and then
// this one and every one after that file is put back as it was.  Every
// other outcome is reported and counted in its turn.
[[nodiscard]] bool ConvertFile(const platform::Search *pSearch, const char *sName,
                               const char *sPathName, const char *sBackupName);

// Finishes every file in flight, in order, before pSearch ends or anything
// else is printed.  True when writing one of them failed: those after it
// are put back as they were.  (flights.cpp)
[[nodiscard]] bool FinishFiles(const platform::Search *pSearch);

// Writes "sMessage: <description of iError>" to standard error, after
// flushing standard output so that the report follows the lines before it.
void ReportError(const char *sMessage, int iError);

}  // namespace morvane
