#include "base/CThreadStarter.h"

#include <new>
#include <system_error>
#include <utility>

std::unique_ptr<std::thread> CThreadStarter::Start(Body body, std::string& strError)
{
    try {
        return std::make_unique<std::thread>(std::move(body));
    } catch (const std::system_error& error) {
        strError = error.what();
    } catch (const std::bad_alloc&) {
        strError = "out of memory";
    }
    return nullptr;
}
