// ListingFormat: how --list writes the import folder's entries.
#pragma once

#include <string>
#include <string_view>

#include "frame/Output.h"

namespace host {

enum class ListingFormat {
    lines,         // one path a line, as it is (for pipes and files)
    nulSeparated,  // each path ends with a NUL byte (-0): any name reads back exactly
    forTerminal,   // one path a line; a path with control characters (or bytes that are not
                   // UTF-8) is quoted as a shell would read it back, $'...', as ls does
};

// The path as a person's terminal may safely show it: unchanged when harmless, else
// $'...' with \n, \t, \e, \xHH escapes for control characters and stray bytes, \\ and \'.
[[nodiscard]] std::string quotedForTerminal(std::string_view path);

// A file name or argument quoted inside a message: 'name', or the $'...' form when it holds
// anything a terminal would act on (a file name from a glob or a file manager is anyone's).
[[nodiscard]] std::string quotedInMessage(std::string_view argument);

void writeListingEntry(frame::Output& out, std::string_view path, ListingFormat format);

}  // namespace host
