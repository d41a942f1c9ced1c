#include "platform/volume.h"

int PlatSameFile(const PlatFileId* pA, const PlatFileId* pB)
{
    return pA->qwVolume == pB->qwVolume && pA->qwFile == pB->qwFile;
}
