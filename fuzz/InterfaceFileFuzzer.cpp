// Arbitrary bytes as an interface file, loaded with every class of the extension registered.
//
// Promises checked: loading never fails in any way but an InterfaceFileError (the host turns
// exactly that into "the extension could not be loaded"); a file that loads gives a view
// controller and all its objects, and dropping them frees everything (the leak checker
// watches each input).
#include <string>

#include "FuzzSupport.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/Dispatch.h"

namespace fuzzing {

int interfaceFileOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string document(reinterpret_cast<const char*>(data), size);
    try {
        platform::LoadedInterface loaded =
            platform::InterfaceFile::loadFromString(document, "Main.json");
        check(loaded.initialViewController != nullptr, "a loaded file has its view controller");
        for (const auto& [identifier, object] : loaded.objects)
            check(object != nullptr, "every object of a loaded file exists");
    } catch (const platform::InterfaceFileError& error) {
        check(std::string(error.what()).find("Main.json") != std::string::npos,
              "a refusal names the file");
    }
    // Objects may have queued work for the main loop (a control's first layout, say).
    (void)platform::MainRunLoop::runUntilIdle(std::chrono::seconds(10));
    return 0;
}

}  // namespace fuzzing

#ifdef QUORVANE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::interfaceFileOneInput(data, size);
}
#endif
