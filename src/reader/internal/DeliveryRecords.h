// The records of deliveries under way in the records folder: a delivery that links or copies a
// text into a folder first records its choice (folder, name, file), synced, so a reader killed at
// any point leaves what the next holder of the text needs to finish instead of delivering again.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "reader/Inbox.h"
#include "reader/internal/Holding.h"

namespace reader::internal {

// What a delivery chose, as its record keeps it.
struct Record {
    dev_t folderDevice = 0;
    ino_t folderInode = 0;
    dev_t fileDevice = 0;
    ino_t fileInode = 0;
    std::string name;
    std::string folderPath;
};

std::string recordBytes(const Record& record);

// The record of `id`, or none when there is none or it is incomplete (a reader killed while
// writing it had not linked anything yet: links come only after a whole record).
std::optional<Record> readRecord(int claims, const std::string& id);

// Writes the record of `id` in one write (replacing an earlier one of the same holder), synced
// when `sync` is true. Empty, or the reason.
std::string writeRecord(int claims, const std::string& id, const Record& record, bool sync);

// The hidden name of a copy being made in a folder without unnamed files; only the holder of
// the text `id` makes or removes it.
std::string partialName(const std::string& id);

// Removes `id`'s leftover partial copy from `folder`, if an earlier holder was killed making it.
void removeLeftoverPartial(int folder, const std::string& id);

// What a record says happened, checked against the delivery folder.
enum class Settled { nothingRecorded, delivered, failed };
// Reads `id`'s record (its holder calls this before doing anything else) and, when the file it
// names is in its folder, syncs that folder so the delivery is durable. The record is removed
// when it names nothing that exists any more. `current` is the folder of this run, if any.
Settled settle(int claims, const std::string& id, const DeliveryFolder* current, const Hold& held,
               std::string* deliveredTo, std::string* problem);

// Removes the records whose text has left the import folder: a reader killed after removing
// the text and before its record leaves one behind. A record whose text still waits belongs to
// that text's next holder.
void sweepRecords(int claims, int imported);

}  // namespace reader::internal
