// Uniform type identifiers and their conformance.
//
// "public.utf8-plain-text" conforms to "public.plain-text", which conforms to "public.text",
// then "public.data" and "public.item"; "public.file-url" conforms to "public.url", then
// "public.item". Every type conforms to itself; unknown types conform to nothing else.
#pragma once

#include <string_view>

namespace platform {

inline constexpr std::string_view kUTTypePlainText = "public.plain-text";
inline constexpr std::string_view kUTTypeUTF8PlainText = "public.utf8-plain-text";
inline constexpr std::string_view kUTTypeText = "public.text";
inline constexpr std::string_view kUTTypeData = "public.data";
inline constexpr std::string_view kUTTypeItem = "public.item";
inline constexpr std::string_view kUTTypeURL = "public.url";
inline constexpr std::string_view kUTTypeFileURL = "public.file-url";

[[nodiscard]] bool typeConformsTo(std::string_view type, std::string_view conformsTo);

}  // namespace platform
