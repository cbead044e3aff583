// The products installed in a sandbox, remembered across runs of
// trellis-host the way Windows Installer remembers them in its registry: one
// file per product in <root>/products, named by the product code, and beside
// it a copy of the package it was installed from (as Windows keeps a cached
// copy), which a later upgrade runs to remove the product.
#pragma once

#include <string>
#include <vector>

namespace platform::posix {

struct InstalledProduct {
    std::u16string productCode;
    std::u16string upgradeCode;
    std::u16string productName;
    std::u16string productVersion;
    std::u16string manufacturer;
    std::u16string productLanguage;
    std::vector<std::u16string> features;    // installed locally
    std::vector<std::u16string> components;
};

class ProductStore {
public:
    explicit ProductStore(std::string root) : root_(std::move(root)) {}

    // Product codes are GUIDs and match without regard to case.
    bool Find(const std::u16string& productCode, InstalledProduct* product) const;
    std::vector<InstalledProduct> All() const;
    bool Save(const InstalledProduct& product) const;
    // Forgets the product and its cached package.
    bool Remove(const std::u16string& productCode) const;

    // Keeps a copy of the package the product was installed from; false when
    // it cannot be written. Copying the cached copy onto itself is a no-op.
    bool CachePackage(const std::u16string& productCode, const std::string& package) const;
    // The cached copy, or empty when there is none.
    std::string CachedPackage(const std::u16string& productCode) const;

private:
    std::string FileOf(const std::u16string& productCode) const;
    std::string PackageFileOf(const std::u16string& productCode) const;
    std::string root_;
};

// "1.2.3.4" as comparable numbers; missing or bad fields count as 0. Windows
// Installer compares only the first three fields of product versions.
int CompareProductVersions(const std::u16string& a, const std::u16string& b);

}  // namespace platform::posix
