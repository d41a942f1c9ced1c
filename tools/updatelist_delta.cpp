// make --base: the package of a patch made against an older release, its
// data folder holding a delta wherever that is smaller than the file.
#include "updatelist.h"

#include "codec/cdelta.h"
#include "pack/pack_delta.h"
#include "file/directory.h"
#include "file/path.h"
#include "platform/hash.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

#include <unordered_set>

namespace {

// A delta lies where its whole file would, under this extension.
const char DELTA_EXTENSION[] = ".dlt";

void ShowProgress(size_t nDone, size_t nTotal, const char* szPath)
{
    if (!PlatIsTerminal(2))
        return;
    if (szPath)
        fprintf(stderr, "\r[%lu/%lu] %-60.60s", (unsigned long)nDone + 1, (unsigned long)nTotal, Shown(szPath).c_str());
    else
        fprintf(stderr, "\r%78s\r", "");
    fflush(stderr);
}

bool Sha256Of(const std::vector<BYTE>& data, BYTE abDigest[PLAT_SHA256_SIZE])
{
    PlatSha256 hash;
    if (!hash.Begin())
        return false;
    hash.Add(data.data(), data.size());
    return hash.End(abDigest) != 0;
}

} // namespace

bool WriteDeltaPackage(const char* lpszOut, const char* lpszBase, const std::vector<FileRecord>& records,
                       std::vector<SumEntry>* pSums, int nRootLimit, DeltaReport* pReport,
                       std::vector<std::string>* pErrors)
{
    *pReport = DeltaReport();
    std::unordered_set<std::string> paths;
    for (const FileRecord& record : records)
        paths.insert(RecordKey(record.szPath));
    CDelta codec;
    std::vector<BYTE> now, base, delta, archiveDelta;
    for (size_t i = 0; i < records.size(); i++) {
        const FileRecord& record = records[i];
        std::string out = std::string(lpszOut) + "\\" + record.szPath;
        if (out.size() >= MAX_PATH) {
            pErrors->push_back(NativePath(out.c_str()) + ": the path is too long to write");
            return false;
        }
        if (IsFolderRecord(&record)) {
            CreateDirectories(out.c_str());
            if (PlatGetFileAttributes(out.c_str()) == INVALID_FILE_ATTRIBUTES) {
                pErrors->push_back(NativePath(out.c_str()) + ": the folder cannot be made");
                return false;
            }
            continue;
        }
        ShowProgress(i, records.size(), record.szPath);
        // The scan ran in the data folder: its paths are relative.
        if (!ReadWholeFile(record.szPath, &now, 0xFFFFFFFF)) {
            pErrors->push_back(Shown(record.szPath) + ": cannot be read");
            return false;
        }
        pReport->qwNewBytes += now.size();
        std::string basePath = std::string(lpszBase) + "\\" + record.szPath;
        std::string deltaName = std::string(record.szPath) + DELTA_EXTENSION;
        DWORD dwBase = basePath.size() < MAX_PATH ? PlatGetFileAttributes(basePath.c_str()) : INVALID_FILE_ATTRIBUTES;
        bool bDelta = false;
        DWORD dwKind = SUM_DELTA;
        if (dwBase != INVALID_FILE_ATTRIBUTES && !(dwBase & FILE_ATTRIBUTE_DIRECTORY)) {
            if (!ReadWholeFile(basePath.c_str(), &base, 0xFFFFFFFF)) {
                pErrors->push_back(NativePath(basePath.c_str()) + ": cannot be read");
                return false;
            }
            if (base == now) {
                pReport->dwSame++;
                fprintf(stderr, "updatelist: warning: %s is the same in the older release; the update rewrites it "
                                "unchanged\n", Shown(record.szPath).c_str());
            }
            // Under its own name, which no record may take, fitting behind
            // every patch folder the list's own paths fit behind.
            bool bNamed = !paths.count(RecordKey(deltaName.c_str())) && deltaName.size() < MAX_PATH &&
                          LongestRootFor(deltaName.c_str()) >= nRootLimit;
            bDelta = bNamed && codec.Make(base.data(), base.size(), now.data(), now.size(), &delta) &&
                     delta.size() < now.size();
            // Two pack archives: their members' contents, which a delta of
            // the coded files cannot see, where that is smaller still.
            if (bNamed && PackDeltaMake(base.data(), base.size(), now.data(), now.size(), &archiveDelta) &&
                archiveDelta.size() < (bDelta ? delta.size() : now.size())) {
                delta.swap(archiveDelta);
                bDelta = true;
                dwKind = SUM_ARCHIVE_DELTA;
            }
        }
        const std::vector<BYTE>& shipped = bDelta ? delta : now;
        std::string target = bDelta ? out + DELTA_EXTENSION : out;
        std::string reason;
        if (target.size() >= MAX_PATH || !WriteFileAtomically(target.c_str(), shipped.data(), shipped.size(), &reason)) {
            pErrors->push_back(NativePath(target.c_str()) + ": cannot be written" +
                               (reason.empty() ? "" : ": " + reason));
            return false;
        }
        if (!bDelta) {
            pReport->dwWhole++;
            pReport->qwWholeBytes += now.size();
            continue;
        }
        SumEntry& e = (*pSums)[i];
        e.dwKind = dwKind;
        e.qwSourceSize = delta.size();
        e.qwBaseSize = base.size();
        if (!Sha256Of(delta, e.abSource) || !Sha256Of(base, e.abBase)) {
            pErrors->push_back("the system's SHA-256 failed");
            return false;
        }
        memcpy(e.szSource, deltaName.c_str(), deltaName.size() + 1);
        pReport->dwDeltas++;
        pReport->dwArchives += dwKind == SUM_ARCHIVE_DELTA;
        pReport->qwDeltaBytes += delta.size();
    }
    ShowProgress(0, 0, NULL);
    return true;
}
