#include "input/CMessageSource.h"

#include "capture/CCaptureLoader.h"
#include "capture/CCaptureReader.h"
#include "load/CFileLoader.h"
#include "load/CTextLoader.h"
#include "text/TovrikTexts.h"

bool CMessageSource::IsCapture() const
{
    return strImport && CCaptureReader::IsCapture(*strImport);
}

CLoadResult CMessageSource::Load() const
{
    if (IsCapture())
        return CCaptureLoader::Load(*strImport, strCaptureFilter);
    if (strImport)
        return CFileLoader::Import(*strImport);
    if (strTextFile)
        return CFileLoader::LoadTextFile(*strTextFile, bHex);
    return CTextLoader::Load(strText ? *strText : TovrikTexts::kStatusMessage, bHex);
}
