// Leaving the import folder: a name is removed, or moved on into a delivery folder, only while it
// is the file held. It is first set aside in the records folder in one step, looked at there,
// and put back when it is anything else; what readers killed half-way leave set aside is
// finished or put back by the next.
#pragma once

#include <sys/stat.h>

#include <string>

namespace reader::internal {

constexpr const char* kAsidePrefix = ".taking-";
// A text on its way into a delivery folder on the import folder's file system waits here, under
// `.moving-<id>-<inode>`, while it is checked to be the file held: only then does it go on into
// the folder, so nothing but the held file ever appears there, not even for an instant.
constexpr const char* kMovingPrefix = ".moving-";

// The name under which the held file `held` of text `id` is set aside in the records folder
// while it is removed (`prefix` kAsidePrefix) or moved (kMovingPrefix): the inode it must be is
// part of the name, so whoever finds it there (after its holder was killed) can tell the held
// file from a newer one.
std::string asideName(const std::string& id, const struct ::stat& held,
                      const char* prefix = kAsidePrefix);

// A new text name (an upper-case version 4 UUID), for a newer file that cannot go back under
// its own name because a still newer one took it.
std::string freshTextName();

// Puts what is set aside as `aside` in `claims` (or what a move took into the delivery folder)
// back into the import folder as `id`, to wait: it is not the file that was held. Where a still
// newer file took the name meanwhile, a regular file goes back under a new name (it is a text of
// its own, never lost) and anything else (a link, a FIFO) is removed: it was never a text.
// True only when it went back under `id`.
bool putBack(int claims, const std::string& aside, int imported, const std::string& id);

// Removes `id` from the import folder only while it is the held file `held`. The name is moved
// aside into `claims` (the records folder, on the same file system) in one step; there the held
// file is removed and anything else goes back under the name. Without a records folder on the
// same file system the name is looked at just before it is removed. True when the held file no
// longer waits under `id` (removed now, or gone already); false with errno.
bool removeHeld(int imported, int claims, const std::string& id, const struct ::stat& held);

// Whether the file at `name` in `claims` is held by a living reader (locked): a text on its way
// into a delivery folder is, and its holder finishes or puts back the move itself.
bool heldByALivingReader(int claims, const std::string& name);

// Finishes what readers killed half-way left set aside in `claims`. A text set aside while it
// was removed: the file its name says it is (delivered or consumed before it was set aside) is
// removed, anything else put back to wait. A text caught on its way into a delivery folder never
// got there: it goes back to wait, as does anything renamed over its name before the move.
// With Sweep::putBackOnly nothing is removed: only what still waits is put back.
enum class Sweep { all, putBackOnly };
void sweepAside(int claims, int imported, Sweep sweep = Sweep::all);

}  // namespace reader::internal
