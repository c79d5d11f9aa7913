// FileManager: the platform's file manager (NSFileManager), reached through defaultManager.
//
// Application group containers: the platform keeps every group's container as a folder
// "<container root>/<group identifier>" and hands it only to processes entitled to that group
// (the host sets the root and the entitlements from the extension's property list). A group
// the process may not reach, or a container that cannot be made, has no container.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/URL.h"

namespace platform {

class FileManager {
  public:
    static FileManager& defaultManager();

    // Platform side: where containers live and which groups this process may reach.
    void setContainerRoot(std::string path);
    void setReachableGroups(std::vector<std::string> groups);
    [[nodiscard]] std::string containerRoot() const;

    // The container of a group, made (owner-only) when missing; none when the process may
    // not reach the group or the container cannot be made.
    [[nodiscard]] std::optional<URL> containerURLForSecurityApplicationGroupIdentifier(
        const std::string& group) const;
    // Platform side: why a group has no container (the path and the system's reason), or none
    // when it has one. The device tells an extension nothing more than "no container"; the
    // host tells the person what went wrong.
    [[nodiscard]] std::optional<PlatformError> containerProblem(const std::string& group) const;

    // Platform side: the entries this process's writers placed in shared folders, in the order
    // they were placed. A writer notes each file it made as it gives it its final name; the
    // host reads the record to report exactly the files a share created, whatever other
    // processes write beside it. Any thread.
    void noteCreatedItem(const URL& url);
    [[nodiscard]] std::vector<URL> createdItems() const;

    // createDirectoryAtURL:withIntermediateDirectories:attributes:error: with the default
    // permissions. True when the folder exists afterwards.
    bool createDirectoryAtURL(const URL& url, bool withIntermediateDirectories,
                              PlatformError* error) const;
    // createFileAtPath:contents:attributes: a file holding exactly `contents` (none: empty),
    // replacing one of the same name. True on success.
    bool createFileAtPath(const std::string& path, std::optional<std::string_view> contents) const;
    // contentsOfDirectoryAtPath:error: the names one level deep, in the order the directory
    // gives them (hidden entries included), or none with the reason.
    [[nodiscard]] std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(
        const std::string& path, PlatformError* error) const;

  private:
    mutable std::mutex mutex_;
    std::string containerRoot_;
    std::vector<std::string> reachableGroups_;
    std::vector<URL> createdItems_;
};

}  // namespace platform
