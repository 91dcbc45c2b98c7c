#include "tun/Logger.h"

#include "platform/linux/AdapterAlias.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

namespace {

std::atomic<WintunLoggerCallback>& currentLogger() {
    static std::atomic<WintunLoggerCallback> logger{nullptr};
    return logger;
}

} // namespace

void setLogger(WintunLoggerCallback logger) {
    currentLogger().store(logger);
}

int logFailure(std::string_view what, int error) {
    if (WintunLoggerCallback logger = currentLogger().load()) {
        std::string text(what);
        text += ": ";
        text += std::system_category().message(error);
        if (auto wide = utf16FromUtf8(text))
            logger(WintunLogErr, wide->c_str());
    }
    errno = error;
    return error;
}
