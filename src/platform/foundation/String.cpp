#include "platform/foundation/String.h"

#include <algorithm>

namespace platform {

String::String(std::string text)
    : buffer_(text.empty() ? nullptr : std::make_shared<const std::string>(std::move(text))),
      length_(buffer_ ? buffer_->size() : 0) {}

String String::substr(std::size_t pos, std::size_t count) const {
    String result;
    if (pos >= length_)
        return result;
    result.buffer_ = buffer_;
    result.offset_ = offset_ + pos;
    result.length_ = std::min(count, length_ - pos);
    if (result.length_ == 0)
        result.buffer_.reset();
    return result;
}

}  // namespace platform
