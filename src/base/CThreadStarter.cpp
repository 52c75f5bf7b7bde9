#include "base/CThreadStarter.h"

#include <new>
#include <system_error>
#include <utility>

CStatus CThreadStarter::Start(Body body, std::unique_ptr<std::thread>& pThread)
{
    try {
        pThread = std::make_unique<std::thread>(std::move(body));
        return CStatus();
    } catch (const std::system_error& error) {
        return CStatus::Error(error.what(), error.code().value());
    } catch (const std::bad_alloc&) {
        return CStatus::Error("out of memory");
    }
}
