#include "host/cli/UsageText.h"

#include "platform/foundation/PlatformVersion.h"

namespace host {

std::string usageText(const std::string& program) {
    return "Usage: " + program + R"( [OPTIONS] FILE|-
       )" + program +
           R"( --list [--json | -0]
       )" + program +
           R"( --controls

Shares the text of FILE (or of standard input, "-") with the teleprompter's share
extension, as a share sheet would. Without --send or --close the sheet is shown in the
terminal and waits for keys (read from the terminal, even when the text comes from
standard input):
  Enter, Ctrl+S   tap "Send to Teleprompter"      d      switch light/dark appearance
  Esc, q          tap the close item              Ctrl+C leave without acting
  Up Down PgUp PgDn Home End   scroll the text

Actions:
  --send                  tap "Send to Teleprompter" once the text is shown: the text is
                          saved as a new file in the teleprompter's import folder
  --close                 tap the close item: the share is cancelled, nothing is saved
  --list                  print the import folder's entries, one path per line (after the
                          share, when there is one); names with control characters are
                          quoted on a terminal

Options:
  --json                  print the outcome (and the listing) as one JSON object; a path
                          that is not UTF-8 is {"base64": "<its bytes>"}
  -0, --null              end each entry of --list with a NUL byte instead of a line feed
  --appearance MODE       light (default) or dark, in any letter case
  --text-size CATEGORY    xSmall, Small, Medium, Large (default), xLarge, xxLarge,
                          xxxLarge, AX1 ... AX5 (any letter case)
  --max-size SIZE         refuse a text larger than SIZE bytes (suffixes K, M, G; default 1G;
                          0 lets only the empty text through)
  -h, --help              show this help
  --version               show the version
  --                      end of the options: FILE follows, even if it begins with -

Testing the extension:
  --platform-version X.Y  the platform version the extension sees (default )" +
           platform::PlatformVersion::current().toString() + R"()
  --bundle PATH           the extension bundle (default: the one installed beside this program)
  --controls              show the extension's coloured toggle and sticky slider in the
                          terminal (space, t, Left, Right; q or Esc quits)
  --appearance unspecified  the extension is given no appearance

The input must be UTF-8 text; it is checked as it is read, and nothing is sent when a byte
is not UTF-8 or the text is larger than the size cap. Without FILE a share reads standard
input (with --list or --json too). Standard output carries only the saved path, the listing
or the JSON; what happened is told on standard error. Once the text is saved, SIGINT,
SIGTERM, SIGHUP and SIGQUIT wait until it is reported.

Environment:
  QUORVANE_CONTAINER_ROOT    folder holding the application group containers
  XDG_DATA_HOME              without QUORVANE_CONTAINER_ROOT, the containers are in
                             $XDG_DATA_HOME/quorvane/app-groups
  HOME                       without either, they are in ~/.local/share/quorvane/app-groups
  QUORVANE_EXTENSION_BUNDLE  the extension bundle, when --bundle is not given
  NO_COLOR                   no colour in the output or on the sheet
  TERM                       the terminal's type, whose description (terminfo) says how to
                             draw the sheet and how many colours it has; a terminal that
                             cannot move its cursor (TERM=dumb) gets no sheet
  COLORTERM                  truecolor or 24bit: the sheet uses 24-bit colour

Exit status:
  0  the text was sent (--controls: the gallery was closed; --list alone: listed)
  1  the share was cancelled by the person; nothing was saved
  2  bad usage (such as no --send or --close and no terminal), or the input could not be
     read, is not UTF-8 or is larger than the size cap (nothing written)
  3  the share ended with an error: the text was not saved; or the import folder could not
     be listed
  4  the extension could not be loaded
  5  the share was cancelled while the text was being sent, and it was saved all the same
  6  the outcome or listing could not be written to standard output (the share itself may
     have completed: standard error says so)
  130  Ctrl+C on the sheet before a send: the program stopped without acting; nothing was
       sent
)";
}

}  // namespace host
