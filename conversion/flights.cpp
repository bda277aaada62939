#include "flights.h"

#include <cstdio>

#include "conversion.h"

namespace morvane {

namespace {

using platform::FLIGHT_CAPACITY;

// The files in flight, oldest first, from aFlights[iOldest] on; the next one
// to start takes the slot after the last.
Flight aFlights[FLIGHT_CAPACITY];
std::size_t iOldest = 0;
std::size_t nFlights = 0;

// Set once a file has run out of room while others were in flight: from
// then on each file finishes before the next starts, as one at a time.
bool bAlone = false;

// Files taken out of the flight after one before them failed or ran out of
// room, in order: each as it was, and what kept it from being put back (0
// when it was put back).
struct Held {
    Flight file;
    int iKept;
    bool bBackupGone;
} aHeld[FLIGHT_CAPACITY];

Flight *Slot(std::size_t i)
{
    return &aFlights[(iOldest + i) % FLIGHT_CAPACITY];
}

Flight *PopOldest()
{
    Flight *pFile = Slot(0);
    iOldest = (iOldest + 1) % FLIGHT_CAPACITY;
    --nFlights;
    return pFile;
}

// Puts pFile, written whole, back, and holds it as aHeld[i].
void Hold(const platform::Search *pSearch, Flight *pFile, std::size_t i)
{
    aHeld[i].iKept = PutBack(pSearch, pFile, &aHeld[i].bBackupGone);
    aHeld[i].file = *pFile;
}

// From now on one file at a time: backups still being closed hold room and
// descriptors, what the file may have run out of.
void GoAlone()
{
    bAlone = true;
    platform::CloseBackupsAtOnce();
}

// Converts again, one at a time and in order, the nHeld files held when
// bAgain (otherwise none), and reports each that could not be put back in
// its turn.  An interrupt that came meanwhile, or a write that fails, ends
// the converting where one file at a time would have ended; what could not
// be put back is still reported.  True when a write failed.
bool Settle(const platform::Search *pSearch, std::size_t nHeld, bool bAgain)
{
    if (bAgain)
        GoAlone();
    bool bEnded = !bAgain;
    for (std::size_t i = 0; i < nHeld; ++i) {
        Held &held = aHeld[i];
        if (held.iKept != 0)
            ReportKept(&held.file, held.iKept, held.bBackupGone, Made::WHOLE);
        else if (!bEnded && !platform::Interrupted())
            bEnded = Convert(pSearch, held.file.sName, held.file.sPathName, held.file.sBackupName,
                             held.file.bNamed);
    }
    return bEnded;
}

// Finishes the oldest file in flight.  When its write failed, every file
// after it is put back, and true returned; when it ran out of room, it and
// every file after it are put back and converted again.
bool FinishOldest(const platform::Search *pSearch)
{
    Flight *pFile = PopOldest();
    const Outcome outcome = FinishFile(pSearch, pFile);
    if (outcome == Outcome::FINISHED)
        return false;
    std::size_t nHeld = 0;
    if (outcome == Outcome::OUT_OF_ROOM)
        Hold(pSearch, pFile, nHeld++);
    while (nFlights > 0)
        Hold(pSearch, PopOldest(), nHeld++);
    return Settle(pSearch, nHeld, outcome == Outcome::OUT_OF_ROOM) ||
           outcome == Outcome::WRITE_FAILED;
}

}  // namespace

bool MayBeTheFlights(int iError)
{
    return nFlights > 0 && !bAlone && platform::OutOfRoom(iError);
}

Flight *NextFlight(const char *sName, const char *sPathName, const char *sBackupName, bool bNamed)
{
    Flight *pFile = Slot(nFlights);
    std::snprintf(pFile->sName, sizeof pFile->sName, "%s", sName);
    std::snprintf(pFile->sPathName, sizeof pFile->sPathName, "%s", sPathName);
    std::snprintf(pFile->sBackupName, sizeof pFile->sBackupName, "%s", sBackupName);
    pFile->pInput = pFile->pOutput = nullptr;
    pFile->lLines = 0;
    pFile->iCompared = -1;
    pFile->bNamed = bNamed;
    if (nFlights == 0 && !bNamed) {
        platform::Print(stdout, "%s \n", sName);
        pFile->bNamed = true;
    }
    return pFile;
}

bool Launch(const platform::Search *pSearch)
{
    ++nFlights;
    while (nFlights >= (bAlone ? 1 : platform::SyncCapacity()))
        if (FinishOldest(pSearch))
            return true;
    return false;
}

bool Stopped(const platform::Search *pSearch, Stage stage, int iError, bool bRenamed)
{
    // Copied: a file converted again while those before it finish may take
    // its slot.
    Flight file = *Slot(nFlights);
    const bool bAgain = bRenamed && MayBeTheFlights(iError);
    int iKept = -1;
    bool bBackupGone = false;
    if (bAgain || stage == Stage::KEEP_MODEL)
        iKept = PutBack(pSearch, &file, &bBackupGone);
    const Made made = stage <= Stage::OPEN_OUTPUT ? Made::NOTHING : Made::PART;
    if (FinishFiles(pSearch)) {
        if (iKept < 0 && bRenamed)
            iKept = PutBack(pSearch, &file, &bBackupGone);
        if (iKept > 0)
            ReportKept(&file, iKept, bBackupGone, made);
        return true;
    }
    if (bAgain && iKept == 0) {
        GoAlone();
        return !platform::Interrupted() &&
               Convert(pSearch, file.sName, file.sPathName, file.sBackupName, file.bNamed);
    }
    if (iKept > 0) {
        ReportKept(&file, iKept, bBackupGone, made);
        return stage == Stage::WRITE;
    }
    return ReportStopped(&file, stage, iError);
}

bool FinishFiles(const platform::Search *pSearch)
{
    while (nFlights > 0)
        if (FinishOldest(pSearch))
            return true;
    return false;
}

}  // namespace morvane
