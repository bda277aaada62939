// The files in flight: each renamed, converted and written whole, and being
// forced to storage while the next ones are converted (up to
// platform::SyncCapacity() of them), and the order in which they finish, are
// put back and are converted again.
//
// Files finish in the order of the listing, and nothing of a file is printed
// or counted before every file before it has finished, but its name line
// when no file was in flight as it started.  So the console, the tally and
// the files end as if each file were converted alone:
// - when a file fails its write, every file after it is put back and the
//   wildcard ends;
// - when a file runs out of room (storage, a quota, open files) while
//   others are in flight, they may have taken it: it and every file after it
//   are put back and, once those before it have finished, converted again
//   one at a time, as is every file after them.
// A file is put back only as far as it provably holds nothing but morvane's
// work (PutBack); one that cannot be is reported in its turn, and counted
// as an error.
#pragma once

#include <cstdint>

#include "platform.h"

namespace morvane {

// One file, from its rename until it has finished or been put back.
struct Flight {
    char sName[platform::NAME_CAPACITY];  // as listed, for its name line
    char sPathName[platform::PATH_CAPACITY];
    char sBackupName[platform::PATH_CAPACITY];
    platform::Stream *pInput;   // the backup, while it is open
    platform::Stream *pOutput;  // the new file, once it is made
    std::int64_t lLines;        // line feeds converted, counted once it finishes
    int iCompared;              // its comparison with the backup: -1 not made, 0 alike, or why not
    bool bNamed;                // its name line is printed
};

// Where a file stopped before it joined the flight.
enum class Stage { RENAME, OPEN_INPUT, OPEN_OUTPUT, KEEP_MODEL, READ, WRITE };

// How much of a new file a put-back that failed left (ReportKept).
enum class Made { NOTHING, PART, WHOLE };

// How a file in flight ended (FinishFile).
enum class Outcome { FINISHED, WRITE_FAILED, OUT_OF_ROOM };

// The queue's side (flights.cpp), for the conversion of one file.

// The slot of the next file to start, its names filled in and nothing else;
// its name line is printed now when no file is in flight, unless bNamed
// says that it is already.  The slot is the caller's until Launch or
// Stopped.
[[nodiscard]] Flight *NextFlight(const char *sName, const char *sPathName, const char *sBackupName,
                                 bool bNamed);

// The next file is written whole and its forcing to storage started: it
// joins the flight, and the oldest files finish while no room is left for
// another.  True when the wildcard must end: a file's write failed.
[[nodiscard]] bool Launch(const platform::Search *pSearch);

// The next file stopped at stage with iError, its backup still under its
// backup name when bRenamed, before it could join the flight.  Every file
// before it finishes first; where one of them failed its write, this one is
// put back too.  Where those in flight may have taken the room it ran out
// of, or its stage is KEEP_MODEL, it is put back first, and in the first
// case converted again alone once they have finished.  Otherwise (or where
// it cannot be put back) its failure is reported (ReportStopped).  True
// when the wildcard must end.
[[nodiscard]] bool Stopped(const platform::Search *pSearch, Stage stage, int iError, bool bRenamed);

// True when iError may come of the room or the descriptors that the files in
// flight hold: converted alone, the file might not fail.
[[nodiscard]] bool MayBeTheFlights(int iError);

// The conversion's side (convert_file.cpp), for the queue.

// Converts the file sName as ConvertFile does; bNamed says that its name
// line is printed already.
[[nodiscard]] bool Convert(const platform::Search *pSearch, const char *sName,
                           const char *sPathName, const char *sBackupName, bool bNamed);

// Finishes pFile, popped from the flight, once its forcing to storage has
// ended: checks it, deletes its backup and prints and counts its lines, as a
// file converted alone would.  OUT_OF_ROOM, nothing printed or counted,
// where its forcing ran out of room and MayBeTheFlights says so.
[[nodiscard]] Outcome FinishFile(const platform::Search *pSearch, Flight *pFile);

// Puts pFile back as it was before its rename, and closes its streams: its
// new file (if one was made) is removed only where it holds exactly what
// morvane wrote and no other program has it open to write, and only while
// its name still names it; the backup takes its name back only while the
// backup's name still names the file that was read, and the name is free.
// 0 when so.  Otherwise nothing of another program's is touched, both files
// stay as they are, and the error that says why is returned, with
// *pBackupGone set when the backup's name no longer names the file that was
// read (the new file then keeps the name).  Whatever ends morvane meanwhile,
// the backup's name never names anything but the original.
[[nodiscard]] int PutBack(const platform::Search *pSearch, Flight *pFile, bool *pBackupGone);

// Reports pFile, whose put-back failed with iError (PutBack), by the state
// that it left: what the backup's name holds, and how much of the new file
// was made.  One error.
void ReportKept(Flight *pFile, int iError, bool bBackupGone, Made made);

// Reports the failure of pFile at stage, with iError, and closes whatever
// of it is still open.  True when the wildcard must end: writing failed.
[[nodiscard]] bool ReportStopped(Flight *pFile, Stage stage, int iError);

}  // namespace morvane
