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

// Converts sPathName, an entry that pSearch found, through its backup
// sBackupName, both in the folder that pSearch searched.  Returns true
// exactly when writing the converted file failed; every other outcome is
// reported and counted here.
[[nodiscard]] bool ConvertFile(const platform::Search *pSearch, const char *sPathName,
                               const char *sBackupName);

// Writes "sMessage: <description of iError>" to standard error, after
// flushing standard output so that the report follows the lines before it.
void ReportError(const char *sMessage, int iError);

}  // namespace morvane
