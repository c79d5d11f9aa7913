// Holding a text: its file opened without following anything and locked (flock, exclusive,
// never waited for), so no other reader takes it while this one hands it over; a batch of texts
// is held at once, each with the title of the file held.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

#include "reader/Inbox.h"
#include "reader/internal/Files.h"

namespace reader::internal {

// A text held: its file open and locked, checked to be still the entry of its name. When it is
// not held, `state` says why.
struct Hold {
    enum class State : unsigned char { held, gone, heldElsewhere, failed };
    Fd fd;
    struct ::stat status {};
    State state = State::gone;
    std::string problem;  // State::failed: what failed and why
};

// Whether `id` in `imported` is still the file `held` (a reader that held it before may have
// removed it between our open and our lock).
bool stillNamed(int imported, const std::string& id, const struct ::stat& held);

enum class NameCheck { now, later };

// Whether an open of a text that failed with `error` says only that it is no text (any more):
// gone, or replaced by a link or something else that is not a regular file.
bool noTextAnyMore(int error);

Hold notHeld(Hold::State state, std::string problem = {});

// Holds `id` in `imported` (`path` names it in messages). Not held when it is gone, not a text
// of ours any more, or held by another reader (each said in `state`), or when opening, looking
// at or locking it fails (State::failed, with the reason). With NameCheck::later the caller
// checks stillNamed() itself before it acts on the name.
Hold hold(int imported, const std::string& id, const std::string& path,
          NameCheck check = NameCheck::now);

// What a hand-over that could not hold its text says.
void reportNotHeld(const Hold& held, HandOver& result);

// A batch of texts held, each with the title of the file held (an empty Hold: not held).
struct HeldBatch {
    std::vector<Hold> holds;
    std::vector<std::string> titles;
};

// Holds texts[from, to) in `imported` and reads each held file's title; the names a delivery
// makes come from what it holds. With `shared`, a few threads share the work.
HeldBatch holdBatch(int imported, const std::vector<WaitingText>& texts, std::size_t from,
                    std::size_t to, bool shared);

}  // namespace reader::internal
