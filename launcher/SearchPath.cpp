#include "SearchPath.h"

std::string prependSearchPath(std::string_view directory, char separator, std::string_view previous)
{
    std::string result(directory);
    if (!previous.empty()) {
        result.reserve(directory.size() + 1 + previous.size());
        result += separator;
        result += previous;
    }
    return result;
}
