// loadPlainText: the plain text of an input item's first attachment.
#pragma once

#include <functional>

#include "platform/extension/ExtensionItem.h"
#include "platform/foundation/String.h"

namespace quorvane {

// The type identifier asked of the attachment, both to test it and to load from it.
inline constexpr const char* kPlainTextTypeIdentifier = "public.plain-text";

// Loads the item's first attachment as "public.plain-text". Calls `completion` at most once,
// on a queue of the platform's choosing, and only when a string arrived: with no attachments,
// a first attachment of another type, a load error, nothing delivered, or data or a URL
// delivered instead of a string, it is never called. Later attachments are never looked at.
void loadPlainText(const platform::ExtensionItem& item,
                   std::function<void(platform::String)> completion);

}  // namespace quorvane
