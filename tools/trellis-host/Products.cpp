// The products of the root: registering this installation's product, and the
// major upgrade (FindRelatedProducts, RemoveExistingProducts).
#include <algorithm>
#include <cctype>

#include "HostSupport.h"
#include "Installation.h"
#include "platform/Strings.h"
#include "platform/posix/CaseFolding.h"

namespace host {

namespace {

using strings::FromUtf8;

// Upgrade table attributes.
constexpr int kUpgradeOnlyDetect = 0x2;
constexpr int kUpgradeMinInclusive = 0x100;
constexpr int kUpgradeMaxInclusive = 0x200;

// Windows Installer's answer when a product's package cannot be found.
constexpr std::uint32_t kErrorSourceAbsent = 1612;

}  // namespace

// Remembers the product with the features and components it has now, and a
// copy of its package for a later upgrade to remove it with; forgets both
// once nothing of it is left.
void Installation::Register() {
    if (!costed_) return;
    const std::vector<std::u16string> features = platform::posix::InstalledAfter(selection_.features);
    const std::u16string code = session_.GetProperty(u"ProductCode");
    if (features.empty()) {
        if (isInstalled_ && store_.Remove(code)) log_.Engine(u"Product " + code + u" is no longer registered");
        return;
    }
    platform::posix::InstalledProduct product;
    product.productCode = code;
    product.upgradeCode = session_.GetProperty(u"UpgradeCode");
    product.productName = session_.GetProperty(u"ProductName");
    product.productVersion = session_.GetProperty(u"ProductVersion");
    product.manufacturer = session_.GetProperty(u"Manufacturer");
    product.productLanguage = session_.GetProperty(u"ProductLanguage");
    product.features = features;
    product.components = platform::posix::InstalledAfter(selection_.components);
    if (!store_.Save(product)) {
        log_.Engine(u"Error: cannot register product " + code + u" under " + FromUtf8(options_.root));
        return;
    }
    log_.Engine(u"Product " + code + u" is registered with " + Number(static_cast<long>(features.size())) +
                u" feature(s)");
    // As on Windows, a maintenance run keeps the cached package unless
    // REINSTALLMODE has "v".
    const std::u16string mode = session_.GetProperty(u"REINSTALLMODE");
    const bool recache = std::any_of(mode.begin(), mode.end(), [](char16_t c) { return c == u'v' || c == u'V'; });
    if (store_.CachedPackage(code).empty() || recache) {
        if (!store_.CachePackage(code, options_.package)) {
            log_.Engine(u"Error: cannot keep a copy of " + FromUtf8(options_.package) + u" under " +
                        FromUtf8(options_.root) + u"/products; an upgrade will not be able to remove " + code);
        }
    }
}

// Fills each Upgrade row's ActionProperty with the installed products of its
// UpgradeCode whose version is in its range.
void Installation::FindRelatedProducts() {
    if (isInstalled_) return;  // as on Windows, only a first installation looks
    const std::u16string self = platform::posix::Upcase(session_.GetProperty(u"ProductCode"));
    const std::vector<platform::posix::InstalledProduct> products = store_.All();
    for (const msi::Record& row :
         Rows(session_, u"SELECT `UpgradeCode`, `VersionMin`, `VersionMax`, `Attributes`, `ActionProperty` FROM `Upgrade`")) {
        const std::u16string upgradeCode = platform::posix::Upcase(Text(row, 1));
        const std::u16string min = Text(row, 2), max = Text(row, 3), property = Text(row, 5);
        const int attributes = Integer(row, 4, 0);
        for (const platform::posix::InstalledProduct& product : products) {
            if (platform::posix::Upcase(product.upgradeCode) != upgradeCode ||
                platform::posix::Upcase(product.productCode) == self) {
                continue;
            }
            if (!min.empty()) {
                const int c = platform::posix::CompareProductVersions(product.productVersion, min);
                if (c < 0 || (c == 0 && (attributes & kUpgradeMinInclusive) == 0)) continue;
            }
            if (!max.empty()) {
                const int c = platform::posix::CompareProductVersions(product.productVersion, max);
                if (c > 0 || (c == 0 && (attributes & kUpgradeMaxInclusive) == 0)) continue;
            }
            std::u16string value = session_.GetProperty(property);
            value += (value.empty() ? u"" : u";") + product.productCode;
            session_.SetProperty(property, value);
            log_.Engine(u"FindRelatedProducts: found product " + product.productCode + u" (" + product.productVersion +
                        u"); " + property + u" = " + value);
        }
    }
}

// Removes the products that FindRelatedProducts put into the action
// properties of Upgrade rows that are not "detect only", as concurrent
// installations of their cached packages with REMOVE (the row's Remove
// column, else ALL) and UPGRADINGPRODUCTCODE set. Like Windows, it does
// nothing when this product is installed already.
std::uint32_t Installation::RemoveExistingProducts() {
    if (isInstalled_) return platform::kErrorSuccess;
    for (const msi::Record& row :
         Rows(session_, u"SELECT `Attributes`, `Remove`, `ActionProperty` FROM `Upgrade`")) {
        if ((Integer(row, 1, 0) & kUpgradeOnlyDetect) != 0) continue;
        const std::u16string remove = Text(row, 2).empty() ? u"ALL" : Text(row, 2);
        for (const std::u16string& code : platform::posix::SplitList(session_.GetProperty(Text(row, 3)), u';')) {
            const std::uint32_t rc = RemoveProduct(code, remove);
            if (rc != platform::kErrorSuccess) return rc;
        }
    }
    return platform::kErrorSuccess;
}

std::uint32_t Installation::RemoveProduct(const std::u16string& productCode, const std::u16string& remove) {
    platform::posix::InstalledProduct product;
    if (!store_.Find(productCode, &product)) return platform::kErrorSuccess;
    const std::u16string self = session_.GetProperty(u"ProductCode");
    const std::string package = store_.CachedPackage(productCode);
    if (package.empty()) {
        log_.Engine(u"Error " + Number(kErrorSourceAbsent) + u". RemoveExistingProducts cannot remove product " +
                    productCode + u": the root keeps no copy of its package (" + FromUtf8(options_.root) +
                    u"/products)");
        return platform::kErrorInstallFailure;
    }
    // Inside the transaction, the removal is rolled back with it; before
    // InstallInitialize or after InstallFinalize it is a transaction of its own.
    const bool joins = scriptOpen_;
    log_.Engine(u"RemoveExistingProducts: Application: " + productCode + u", Command line: UPGRADINGPRODUCTCODE=" +
                self + u" REMOVE=" + remove + (joins ? u" (inside this installation's transaction)" : u""));

    Options options = options_;
    options.uninstall = true;
    options.package = package;
    options.properties = {{u"REMOVE", remove}, {u"UPGRADINGPRODUCTCODE", self}};
    // --fail-at and --fail-after name actions of the package given.
    options.failAt.clear();
    options.failAfter.clear();
    options.diff = false;
    auto removal = std::make_unique<Installation>(options, log_, libraryPath_);
    removal->joinsParent_ = joins;
    removal->OnAction(onAction_);
    std::string error;
    if (!removal->Open(&error)) {
        log_.Engine(u"Error " + Number(kErrorSourceAbsent) + u". " + FromUtf8(error));
        return platform::kErrorInstallFailure;
    }
    const std::uint32_t rc = removal->Run();
    if (rc != platform::kErrorSuccess) {
        log_.Engine(u"RemoveExistingProducts: the removal of " + productCode + u" failed with " + Number(rc));
        return platform::kErrorInstallFailure;
    }
    if (!joins) return platform::kErrorSuccess;
    // Its rollback actions come after the ones this installation reached so
    // far, so that a rollback undoes the removal in its place; its commit
    // actions run with this installation's.
    for (ScriptOp op : removal->rollback_) {
        if (op.owner == nullptr) op.owner = removal.get();
        rollback_.push_back(op);
    }
    for (ScriptOp op : removal->commit_) {
        if (op.owner == nullptr) op.owner = removal.get();
        commit_.push_back(op);
    }
    removal->rollback_.clear();
    removal->commit_.clear();
    removals_.push_back(std::move(removal));
    return platform::kErrorSuccess;
}

}  // namespace host
