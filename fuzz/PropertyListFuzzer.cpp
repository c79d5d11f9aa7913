// Arbitrary bytes as an extension's property list.
//
// Promises checked: parsing never fails in any way but an ExtensionBundleError (the host turns
// exactly that into "the extension could not be loaded"; anything else would end it
// abruptly); a list that is accepted has every required name, and the file names it gives
// (the library, the interface file) stay inside the bundle.
#include <string>

#include "FuzzSupport.h"
#include "platform/extension/ExtensionBundle.h"

namespace fuzzing {
namespace {

bool staysInBundle(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

int propertyListOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string document(reinterpret_cast<const char*>(data), size);
    platform::ExtensionPropertyList info;
    try {
        info = platform::ExtensionPropertyList::parse(document, "Info.json");
    } catch (const platform::ExtensionBundleError& error) {
        check(std::string(error.what()).find("Info.json") != std::string::npos,
              "a refusal names the property list");
        return 0;
    }
    check(!info.bundleIdentifier.empty() && !info.extensionPointIdentifier.empty() &&
              !info.principalClass.empty(),
          "an accepted list has its identifiers and principal class");
    check(staysInBundle(info.executable), "the library named stays inside the bundle");
    check(staysInBundle(info.mainInterface), "the interface file named stays inside the bundle");
    return 0;
}

}  // namespace fuzzing

#ifdef QUORVANE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::propertyListOneInput(data, size);
}
#endif
