// The few file calls every room of the reader shares: a descriptor closed with its scope, the
// reasons of failures in words, syncs that survive signals, the entries of an open folder, and
// work shared out over a few threads.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "handover/Descriptor.h"

namespace reader::internal {

// An open descriptor, closed when the scope ends: the hand-over's own.
using Fd = handover::Descriptor;

// The user this process runs as (asked once: it is asked for every entry).
uid_t ownUser();

std::string systemReason(int error);

std::string failure(const std::string& what, int error);

bool sameFile(const struct ::stat& a, const struct ::stat& b);

int syncRetrying(int fd);

// Reads the first bytes of `fd` into `head` (sized kTitleReadLimit); how many it got, or -1
// with errno when the read fails.
ssize_t readHead(int fd, std::string& head);

// Opens the entry `name` of `folder` to read it as a text: never following a link, never
// waiting on a FIFO or device, and leaving its access time alone, so that a text arrives where
// it goes as it was sent and reading a title costs no write of the file's inode. Only the owner
// may ask for that; anything else is opened plainly (and found not to be ours by its caller).
int openText(int folder, const char* name);

// Runs `work(first, step)` for the items first, first + step, ... of `count` items on a few
// threads at once (one more for each `perThread` items, at most four), this one among them: a
// folder of thousands of texts costs thousands of system calls, which the cores share.
void shareOut(std::size_t count, std::size_t perThread,
              const std::function<void(std::size_t, std::size_t)>& work);

// What an entry that is not a text is, for a listing's report.
std::string kindOf(mode_t mode);

// A stream of the entries of the open folder `folder`, from its first: made on a duplicate
// descriptor, which shares its position with every earlier reading of the folder, so it is
// rewound. Null, with errno set, when it cannot be made; the caller closes it with closedir().
DIR* readEntries(int folder);

// The names in `folder`, or none when it cannot be read.
std::optional<std::set<std::string>> entryNames(int folder);

}  // namespace reader::internal
