#include "platform/foundation/UUID.h"

#include <cerrno>

#include "platform/foundation/SystemCalls.h"

namespace platform {

std::optional<UUID> UUID::generate(PlatformError* error) {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got =
            SystemCalls::current().getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (error)
                *error = PlatformError::posix(got < 0 ? errno : EIO,
                                              "reading the kernel's random source");
            return std::nullopt;
        }
        filled += static_cast<std::size_t>(got);
    }
    return fromBytes(bytes);
}

UUID UUID::fromBytes(const std::array<std::uint8_t, 16>& bytes) {
    UUID uuid;
    uuid.bytes_ = bytes;
    uuid.bytes_[6] = static_cast<std::uint8_t>((uuid.bytes_[6] & 0x0F) | 0x40);  // version 4
    uuid.bytes_[8] = static_cast<std::uint8_t>((uuid.bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return uuid;
}

std::string UUID::uuidString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text.push_back('-');
        text.push_back(kDigits[bytes_[i] >> 4]);
        text.push_back(kDigits[bytes_[i] & 0x0F]);
    }
    return text;
}

}  // namespace platform
