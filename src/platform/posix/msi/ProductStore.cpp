// Installed products as small text files: "Name=Value" lines in UTF-8, with
// one Feature= and Component= line for each installed one.
#include "platform/posix/msi/ProductStore.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/Strings.h"
#include "platform/posix/CaseFolding.h"

namespace platform::posix {

namespace {

// Only the characters of a braced GUID, so that a product code cannot
// reach outside the folder.
bool IsCodeText(const std::u16string& code) {
    if (code.empty() || code.size() > 64) return false;
    for (char16_t c : code) {
        const bool ok = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                        c == u'{' || c == u'}' || c == u'-';
        if (!ok) return false;
    }
    return true;
}

bool ReadProduct(const std::string& path, InstalledProduct* product) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    *product = InstalledProduct();
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::u16string value = strings::FromUtf8(line.substr(equals + 1));
        if (key == "ProductCode") product->productCode = value;
        else if (key == "UpgradeCode") product->upgradeCode = value;
        else if (key == "ProductName") product->productName = value;
        else if (key == "ProductVersion") product->productVersion = value;
        else if (key == "Manufacturer") product->manufacturer = value;
        else if (key == "ProductLanguage") product->productLanguage = value;
        else if (key == "Feature") product->features.push_back(value);
        else if (key == "Component") product->components.push_back(value);
    }
    return !product->productCode.empty();
}

}  // namespace

std::string ProductStore::FileOf(const std::u16string& productCode) const {
    return root_ + "/products/" + strings::ToUtf8(Upcase(productCode)) + ".txt";
}

std::string ProductStore::PackageFileOf(const std::u16string& productCode) const {
    return root_ + "/products/" + strings::ToUtf8(Upcase(productCode)) + ".msi";
}

bool ProductStore::Find(const std::u16string& productCode, InstalledProduct* product) const {
    return IsCodeText(productCode) && ReadProduct(FileOf(productCode), product);
}

std::vector<InstalledProduct> ProductStore::All() const {
    std::vector<InstalledProduct> products;
    DIR* dir = ::opendir((root_ + "/products").c_str());
    if (dir == nullptr) return products;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        InstalledProduct product;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0 &&
            ReadProduct(root_ + "/products/" + name, &product)) {
            products.push_back(product);
        }
    }
    ::closedir(dir);
    return products;
}

bool ProductStore::Save(const InstalledProduct& product) const {
    if (!IsCodeText(product.productCode)) return false;
    ::mkdir(root_.c_str(), 0777);
    ::mkdir((root_ + "/products").c_str(), 0777);
    std::ostringstream text;
    text << "ProductCode=" << strings::ToUtf8(product.productCode) << '\n'
         << "UpgradeCode=" << strings::ToUtf8(product.upgradeCode) << '\n'
         << "ProductName=" << strings::ToUtf8(product.productName) << '\n'
         << "ProductVersion=" << strings::ToUtf8(product.productVersion) << '\n'
         << "Manufacturer=" << strings::ToUtf8(product.manufacturer) << '\n'
         << "ProductLanguage=" << strings::ToUtf8(product.productLanguage) << '\n';
    for (const std::u16string& feature : product.features) text << "Feature=" << strings::ToUtf8(feature) << '\n';
    for (const std::u16string& component : product.components) text << "Component=" << strings::ToUtf8(component) << '\n';
    const std::string path = FileOf(product.productCode);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text.str();
    return static_cast<bool>(out.flush());
}

bool ProductStore::Remove(const std::u16string& productCode) const {
    if (!IsCodeText(productCode)) return false;
    std::remove(PackageFileOf(productCode).c_str());
    return std::remove(FileOf(productCode).c_str()) == 0;
}

bool ProductStore::CachePackage(const std::u16string& productCode, const std::string& package) const {
    if (!IsCodeText(productCode)) return false;
    const std::string cached = PackageFileOf(productCode);
    struct stat from{}, to{};
    if (::stat(package.c_str(), &from) != 0) return false;
    if (::stat(cached.c_str(), &to) == 0 && from.st_dev == to.st_dev && from.st_ino == to.st_ino) return true;
    ::mkdir(root_.c_str(), 0777);
    ::mkdir((root_ + "/products").c_str(), 0777);
    // Written beside and renamed, so that a cached copy is always whole.
    const std::string partial = cached + ".partial";
    {
        std::ifstream in(package, std::ios::binary);
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
        if (!in || !out.flush()) {
            std::remove(partial.c_str());
            return false;
        }
    }
    return std::rename(partial.c_str(), cached.c_str()) == 0;
}

std::string ProductStore::CachedPackage(const std::u16string& productCode) const {
    if (!IsCodeText(productCode)) return std::string();
    const std::string cached = PackageFileOf(productCode);
    struct stat info{};
    return ::stat(cached.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? cached : std::string();
}

int CompareProductVersions(const std::u16string& a, const std::u16string& b) {
    const auto fields = [](const std::u16string& text) {
        long values[3] = {0, 0, 0};
        std::size_t field = 0;
        for (char16_t c : text) {
            if (c == u'.') {
                if (++field == 3) break;
            } else if (c >= u'0' && c <= u'9') {
                values[field] = values[field] * 10 + (c - u'0');
                if (values[field] > 65535) values[field] = 65535;
            }
        }
        return std::vector<long>(values, values + 3);
    };
    const std::vector<long> x = fields(a), y = fields(b);
    return x < y ? -1 : (y < x ? 1 : 0);
}

}  // namespace platform::posix
