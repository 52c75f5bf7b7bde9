#include "capture/CCaptureReader.h"

namespace {

const char kNotHere[] = "packet captures are read on Linux only (this build has no libpcap)";

}  // namespace

struct CCaptureReader::Impl {
};

CCaptureReader::CCaptureReader() = default;

CCaptureReader::~CCaptureReader() = default;

bool CCaptureReader::Available()
{
    return false;
}

CStatus CCaptureReader::Open(const std::string&)
{
    return CStatus::Error(kNotHere);
}

CStatus CCaptureReader::OpenMemory(const void*, size_t)
{
    return CStatus::Error(kNotHere);
}

CStatus CCaptureReader::SetFilter(const std::string&)
{
    return CStatus::Error(kNotHere);
}

int CCaptureReader::LinkType() const
{
    return -1;
}

CCaptureReader::Next CCaptureReader::Read(Frame&)
{
    return Next::kEnd;
}

bool CCaptureReader::Passes(const Frame&) const
{
    return false;
}
