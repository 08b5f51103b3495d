#include "log/Log.h"

#include <utility>

#include "log/Logger.h"

void LogDebug(std::string message) {
    Logger logger;
    logger.Write(std::move(message), LogLevelDebug);
}

void LogError(std::string message) {
    Logger logger;
    logger.Write(std::move(message), LogLevelError);
}
