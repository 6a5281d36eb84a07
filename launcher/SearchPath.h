#pragma once

#include <string>
#include <string_view>

// Puts a directory in front of a search path list such as PATH. The previous list is kept whole,
// whatever its length. An unset or empty list yields the directory alone: a trailing empty entry
// would add the current directory to the search path.
std::string prependSearchPath(std::string_view directory, char separator,
                              std::string_view previous);
