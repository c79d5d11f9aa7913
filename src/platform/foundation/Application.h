// Application: process-wide settings the platform keeps for the running application.
#pragma once

#include "platform/foundation/Font.h"

namespace platform {

class Application {
  public:
    // The user's text-size setting, which text-style fonts follow. Large unless changed. The
    // host changes it together with the view controller's trait collection.
    static ContentSizeCategory preferredContentSizeCategory();
    static void setPreferredContentSizeCategory(ContentSizeCategory category);
};

}  // namespace platform
