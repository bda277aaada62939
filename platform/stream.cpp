#include "stream.h"

#include <algorithm>
#include <cstring>

namespace morvane::platform {

namespace {

alignas(4096) unsigned char aInputBuffer[INPUT_BUFFER_SIZE];
alignas(4096) unsigned char aOutputBuffer[OUTPUT_BUFFER_SIZE];

}  // namespace

Stream gInputs[FLIGHT_CAPACITY];
Stream gOutputs[FLIGHT_CAPACITY];

Stream *IdleStream(Stream *aPool)
{
    for (std::size_t i = 0; i < FLIGHT_CAPACITY; ++i)
        if (aPool[i].pBuffer == nullptr || aPool[i].iFile == -1)
            return &aPool[i];
    return nullptr;
}

Stream *StartStream(Stream *pStream, std::intptr_t iFile)
{
    const bool bInput = pStream >= gInputs && pStream < gInputs + FLIGHT_CAPACITY;
    pStream->pBuffer = bInput ? aInputBuffer : aOutputBuffer;
    pStream->nCapacity = bInput ? sizeof aInputBuffer : sizeof aOutputBuffer;
    pStream->iFile = iFile;
    pStream->bEnd = pStream->bFailed = pStream->bForcing = false;
    pStream->nStart = pStream->nEnd = 0;
    pStream->lWritten = 0;
    pStream->lAt = pStream->lLeft = -1;
    return pStream;
}

void StartReading(Stream *pStream)
{
    const bool bInput = pStream >= gInputs && pStream < gInputs + FLIGHT_CAPACITY;
    pStream->bEnd = pStream->bFailed = false;
    pStream->nStart = pStream->nEnd = 0;
    pStream->lAt = 0;
    pStream->lLeft = bInput ? pStream->lOpenSize : pStream->lWritten;
}

bool FlushOutput(Stream *pOutput)
{
    // Each block goes only to a file that is still just what morvane made it.
    if (pOutput->bFailed || !OutputIntact(pOutput) ||
        !WriteAll(pOutput->iFile, pOutput->pBuffer, pOutput->nEnd)) {
        pOutput->bFailed = true;
        return false;
    }
    pOutput->lWritten += static_cast<std::int64_t>(pOutput->nEnd);
    pOutput->nEnd = 0;
    return true;
}

std::size_t Read(Stream *pInput, void *pBuffer, std::size_t nSize)
{
    auto *pTarget = static_cast<unsigned char *>(pBuffer);
    std::size_t nDone = 0;
    while (nDone < nSize && !pInput->bEnd && !pInput->bFailed) {
        if (pInput->nStart == pInput->nEnd) {
            // A file read again yields what it should hold and no more: its
            // size is checked apart, and a read that must meet the end costs
            // a call per file.
            const std::size_t nAsk =
                pInput->lLeft < 0
                    ? pInput->nCapacity
                    : static_cast<std::size_t>(std::min<std::int64_t>(
                          pInput->lLeft, static_cast<std::int64_t>(pInput->nCapacity)));
            const std::ptrdiff_t nRead =
                nAsk == 0 ? 0 : ReadSome(pInput->iFile, pInput->pBuffer, nAsk, pInput->lAt);
            if (nRead > 0 && pInput->lAt >= 0) {
                pInput->lAt += nRead;
                pInput->lLeft -= nRead;
            }
            pInput->bFailed = nRead < 0;
            pInput->bEnd = nRead == 0;
            pInput->nStart = 0;
            pInput->nEnd = nRead > 0 ? static_cast<std::size_t>(nRead) : 0;
            continue;
        }
        const std::size_t nCopy = std::min(nSize - nDone, pInput->nEnd - pInput->nStart);
        std::memcpy(pTarget + nDone, pInput->pBuffer + pInput->nStart, nCopy);
        pInput->nStart += nCopy;
        nDone += nCopy;
    }
    return nDone;
}

bool AtEnd(const Stream *pInput)
{
    return pInput->bEnd;
}

bool ReadFailed(const Stream *pInput)
{
    return pInput->bFailed;
}

std::size_t Write(Stream *pOutput, const void *pBuffer, std::size_t nSize)
{
    const auto *pSource = static_cast<const unsigned char *>(pBuffer);
    std::size_t nDone = 0;
    while (nDone < nSize && !pOutput->bFailed) {
        if (pOutput->nEnd == pOutput->nCapacity && !FlushOutput(pOutput))
            break;
        const std::size_t nCopy = std::min(nSize - nDone, pOutput->nCapacity - pOutput->nEnd);
        std::memcpy(pOutput->pBuffer + pOutput->nEnd, pSource + nDone, nCopy);
        pOutput->nEnd += nCopy;
        nDone += nCopy;
    }
    return nDone;
}

}  // namespace morvane::platform
