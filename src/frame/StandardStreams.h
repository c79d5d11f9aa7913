// StandardStreams: the guard every program sets up first around the streams it was given.
#pragma once

namespace frame {

// Which standard streams were closed when the program started.
struct ClosedStreams {
    bool input = false;   // standard input: never read as a text (it holds /dev/null)
    bool output = false;  // standard output: counts as an output that failed
};

// A standard stream closed by whoever started the program would hand its number to the next
// file opened, and output meant for it would land there (in a text being saved or delivered, a
// picture, a settings file). Each closed one is held on /dev/null instead; which ones were
// closed is returned.
[[nodiscard]] ClosedStreams holdClosedStandardStreams();

// holdClosedStandardStreams(), with SIGPIPE and SIGXFSZ ignored first: a closed pipe then shows
// up as a failed write, which the program reports (see Output), and a file-size limit as a
// failed write, not as a death halfway. Programs that start commands give those the default
// dispositions back.
[[nodiscard]] ClosedStreams guardStandardStreams();

}  // namespace frame
