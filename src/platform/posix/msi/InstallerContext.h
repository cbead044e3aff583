// What conditions and formatted text read from a running installation.
#pragma once

#include <string>

namespace platform::posix {

// INSTALLSTATE values as conditions see them.
constexpr int kInstallStateUnknown = -1;
constexpr int kInstallStateAdvertised = 1;
constexpr int kInstallStateAbsent = 2;
constexpr int kInstallStateLocal = 3;
constexpr int kInstallStateSource = 4;

struct ItemState {
    int installed = kInstallStateAbsent;
    int action = kInstallStateUnknown;
};

class InstallerContext {
public:
    virtual ~InstallerContext() = default;
    // Empty when unset.
    virtual std::u16string Property(const std::u16string& name) const = 0;
    virtual bool Environment(const std::u16string& name, std::u16string* value) const = 0;
    // False when the package has no such component or feature.
    virtual bool ComponentState(const std::u16string& component, ItemState* state) const = 0;
    virtual bool FeatureState(const std::u16string& feature, ItemState* state) const = 0;
    // [#File] (shortName false) and [!File] (true): the file's full target path.
    virtual bool FilePath(const std::u16string& fileKey, bool shortName, std::u16string* path) const = 0;
    // [$Component]: the component's directory, with a trailing backslash.
    virtual bool ComponentDirectory(const std::u16string& component, std::u16string* path) const = 0;
};

}  // namespace platform::posix
