// InterfaceFile: loads an extension's interface file (the device's storyboard), a JSON document.
//
//   {
//     "interfaceFormat": "quorvane-interface", "formatVersion": 1,
//     "initialViewController": "<id>",
//     "objects": {
//       "<id>": {"class": "<registered class>", ...archived properties...,
//                "subviews": ["<id>", ...],             (views)
//                "view": "<id>",                        (view controllers)
//                "navigationItem": {"title": "...", "leftBarButtonItem": "<id>",
//                                   "rightBarButtonItem": "<id>"},
//                "outlets": {"<outlet>": "<id>", ...}}
//     }
//   }
//
// Objects are made by class name through the class registry (initWithCoder:), views are put in
// their superviews, and each outlet is connected through its setter ("textView" through
// "setTextView:"). A class may name outlets it cannot work without; a file that leaves one of
// them unconnected is refused here, with the reason, rather than failing later. Every error is
// an InterfaceFileError naming the file and what is wrong.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/ui/ViewController.h"

namespace platform {

class InterfaceFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct LoadedInterface {
    // The initial view controller, its view set and outlets connected; viewDidLoad not yet sent.
    std::shared_ptr<ViewController> initialViewController;
    // Every object of the file by identifier. Callers that keep this keep them all alive.
    std::map<std::string, ObjectPtr> objects;
};

class InterfaceFile {
  public:
    static LoadedInterface loadFromFile(const std::string& path);
    // `sourceName` names the document in error messages.
    static LoadedInterface loadFromString(const std::string& document,
                                          const std::string& sourceName);
};

}  // namespace platform
