#include "receive/ReceiveOptions.h"

namespace receive {

std::variant<ReceiveOptions, UsageError> parseReceiveOptions(
    const std::vector<std::string>& arguments) {
    ReceiveOptions options;
    auto setMode = [&](Mode mode, const std::string& name) -> std::optional<UsageError> {
        if (options.mode != Mode::none)
            return UsageError{"give only one of --to, --exec, --print and --list (" + name +
                              " was one more)"};
        options.mode = mode;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        std::optional<std::string> attached;  // --to=DIR
        if (argument.starts_with("--") && argument.find('=') != std::string::npos) {
            attached = argument.substr(argument.find('=') + 1);
            argument = argument.substr(0, argument.find('='));
        }
        auto value = [&]() -> std::optional<std::string> {
            if (attached)
                return attached;
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        std::optional<UsageError> problem;
        if (argument == "--to" || argument == "--exec") {
            const auto given = value();
            if (!given)
                return UsageError{argument + " needs a value"};
            if (given->empty())
                return UsageError{argument + " needs a value that is not empty"};
            // A command of white space alone (an unset variable, "$CMD ") succeeds doing
            // nothing, and every text would be removed as taken.
            if (argument == "--exec" &&
                given->find_first_not_of(" \t\n\r\v\f") == std::string::npos)
                return UsageError{"--exec needs a command, not white space alone"};
            if (argument == "--to") {
                problem = setMode(Mode::to, argument);
                options.folder = *given;
            } else {
                problem = setMode(Mode::exec, argument);
                options.command = *given;
            }
        } else if (attached) {
            return UsageError{argument + " takes no value"};
        } else if (argument == "--print") {
            problem = setMode(Mode::print, argument);
        } else if (argument == "--list") {
            problem = setMode(Mode::list, argument);
        } else if (argument == "--watch") {
            options.watch = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "-0" || argument == "--null") {
            options.nul = true;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else {
            return UsageError{argument.starts_with("-") ? "unknown option " + argument
                                                        : "unexpected argument " + argument};
        }
        if (problem)
            return *problem;
    }
    if (options.help || options.version)
        return options;
    if (options.mode == Mode::none)
        return UsageError{"say what to do with the waiting texts: --to, --exec, --print or --list"};
    if (options.watch && options.mode == Mode::list)
        return UsageError{"--watch hands texts over; --list only shows them"};
    if (options.json && options.mode != Mode::print && options.mode != Mode::list)
        return UsageError{"--json goes with --print or --list"};
    if (options.nul && options.mode != Mode::print)
        return UsageError{"-0 goes with --print"};
    if (options.nul && options.json)
        return UsageError{"give -0 or --json, not both"};
    return options;
}

std::string receiveUsageText() {
    return R"(Usage: quorvane-receive --to DIR [--watch]
       quorvane-receive --exec CMD [--watch]
       quorvane-receive --print [--json | -0] [--watch]
       quorvane-receive --list [--json]

Takes the texts sent with "Send to Teleprompter" out of the import folder, oldest first,
each exactly once: it leaves the folder only once it is where it was asked to go.

Actions:
  --to DIR       move each text into DIR (made when missing) as a .txt file named by
                 its title line ("Title.txt", "Title (2).txt" when taken); the new
                 file's path is printed. Nothing in DIR is ever replaced.
  --exec CMD     run CMD with sh -c for each text: the text's path is $1, the text is
                 on its standard input, QUORVANE_TEXT_ID and QUORVANE_TEXT_TITLE are
                 in its environment (the title with control characters as spaces).
                 Exit status 0 removes the text; anything else leaves it waiting, to
                 be offered again with the same id
  --print        write each text to standard output, then remove it
  --list         show what waits: id, time, size in bytes and title line; nothing is
                 removed. Entries that are not texts are named on standard error, and
                 so is a text that cannot be opened (it is listed; status 3)

Options:
  --watch        after what waits, hand over each new text as it lands, until
                 SIGINT or SIGTERM (which end it after the current hand-over); a text
                 that failed is offered again after a pause, one another receiver
                 holds is looked at again within two seconds
  --json         with --print: one JSON object per line with id, time, title, bytes
                 (the file's size) and text; with --list: the same with path and,
                 for a text that cannot be opened, problem, instead of text. A text
                 or path that is not UTF-8 is {"base64": "<its bytes>"}
  -0, --null     with --print: end each text with a NUL byte; a text holding a NUL
                 is not printed (named on standard error, it stays waiting; status 3)
  -h, --help     show this help
  --version      show the version

Environment:
  QUORVANE_CONTAINER_ROOT    folder holding the application group containers
  XDG_DATA_HOME              without QUORVANE_CONTAINER_ROOT, the containers are in
                             $XDG_DATA_HOME/quorvane/app-groups
  HOME                       without either, they are in ~/.local/share/quorvane/app-groups
  PATH                       where sh finds the commands of --exec

Exit status:
  0  everything waiting was handed over, or nothing waited (--watch: ended by a signal)
  2  bad usage
  3  one or more texts could not be handed over (or, with --list, opened): each is
     named on standard error and stays waiting; or the import folder could not be read
     or is on a file system without owners (FAT, exFAT, SMB), where anyone could plant
     a text
  6  standard output took less than everything (a full disk, a closed pipe); the text
     being printed stays waiting
  128+N  ended by signal N before everything was handed over (without --watch)
)";
}

}  // namespace receive
