// The frame every attributed-text transform shares.
//
// A transform makes a private working copy of its receiver, brackets its passes in
// beginEditing/endEditing, and returns an immutable copy; the receiver never changes. A pass
// visits the longest runs of one key over the whole working copy, in order, runs without a
// value included, and may edit the visited run. Copies share the characters, so a transform
// costs time in proportion to the runs it visits, never to the text's length.
#pragma once

#include <functional>

#include "platform/foundation/AttributedText.h"

namespace quorvane::detail {

using RunStep = std::function<void(platform::MutableAttributedText& working,
                                   const platform::AttributeValuePtr& value, platform::Range run)>;

// Runs `passes` on a working copy of `receiver` and returns the result.
platform::AttributedText transformed(
    const platform::AttributedText& receiver,
    const std::function<void(platform::MutableAttributedText&)>& passes);

// One pass over the runs of `key` from 0 to the working copy's current length.
void runPass(platform::MutableAttributedText& working, const platform::TextAttributeKey& key,
             const RunStep& step);

// The pass that removes the paragraph style over every run.
void clearParagraphStylePass(platform::MutableAttributedText& working);

}  // namespace quorvane::detail
