// The command line's own words: what quorvane-share --help prints.
#pragma once

#include <string>

namespace host {

// The --help text of the terminal's share program, named `program`.
[[nodiscard]] std::string usageText(const std::string& program);

}  // namespace host
