#include "platform/name_cache_linux.h"

#include <dirent.h>
#include <sys/stat.h>

#include <unordered_map>
#include <vector>

namespace platform::detail {
namespace {

std::string Fold(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return folded;
}

struct Listing {
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec modified = {};
    std::unordered_map<std::string, std::vector<std::string>> byFolded;
};

// A handful of folders are busy at a time; the map is simply emptied when
// it grows past this.
constexpr size_t kMaxListings = 64;

std::unordered_map<std::string, Listing>& Listings() {
    static std::unordered_map<std::string, Listing> listings;
    return listings;
}

// One spelling per folder: no trailing separator (but "/"), "." for empty.
std::string FolderKey(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder.empty() ? "." : folder;
}

bool SameState(const Listing& listing, const struct stat& st) {
    return listing.device == st.st_dev && listing.inode == st.st_ino &&
           listing.modified.tv_sec == st.st_mtim.tv_sec &&
           listing.modified.tv_nsec == st.st_mtim.tv_nsec;
}

void Remember(Listing& listing, const struct stat& st) {
    listing.device = st.st_dev;
    listing.inode = st.st_ino;
    listing.modified = st.st_mtim;
}

// The folder's listing, read anew unless the kept one is still valid.
const Listing* Current(const std::string& key) {
    struct stat st;
    if (::stat(key.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    auto& listings = Listings();
    auto it = listings.find(key);
    if (it != listings.end() && SameState(it->second, st)) return &it->second;

    Listing fresh;
    DIR* dir = ::opendir(key.c_str());
    if (dir == nullptr) return nullptr;
    while (const dirent* entry = ::readdir(dir)) {
        fresh.byFolded[Fold(entry->d_name)].push_back(entry->d_name);
    }
    ::closedir(dir);
    Remember(fresh, st);
    if (listings.size() >= kMaxListings) listings.clear();
    return &(listings[key] = std::move(fresh));
}

}  // namespace

std::string MatchInFolder(const std::string& folder, const std::string& name) {
    const Listing* listing = Current(FolderKey(folder));
    if (listing == nullptr) return name;
    auto it = listing->byFolded.find(Fold(name));
    return it != listing->byFolded.end() && it->second.size() == 1 ? it->second.front() : name;
}

FolderChange::FolderChange(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    m_folder = FolderKey(slash == std::string::npos ? std::string() : trimmed.substr(0, slash + 1));
    m_name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    auto it = Listings().find(m_folder);
    struct stat st;
    m_current =
        it != Listings().end() && ::stat(m_folder.c_str(), &st) == 0 && SameState(it->second, st);
}

void FolderChange::Done(bool changed, bool added) {
    auto& listings = Listings();
    auto it = listings.find(m_folder);
    if (it == listings.end() || !changed) return;
    struct stat st;
    if (!m_current || ::stat(m_folder.c_str(), &st) != 0) {
        listings.erase(it);
        return;
    }
    std::vector<std::string>& names = it->second.byFolded[Fold(m_name)];
    std::erase(names, m_name);
    if (added) names.push_back(m_name);
    Remember(it->second, st);
}

void ForgetFolders(const std::string& tree) {
    const std::string path = FolderKey(tree);
    auto& listings = Listings();
    for (auto it = listings.begin(); it != listings.end();) {
        const std::string& key = it->first;
        const bool below = key.compare(0, path.size(), path) == 0 &&
                           (key.size() == path.size() || key[path.size()] == '/');
        it = below ? listings.erase(it) : std::next(it);
    }
}

}  // namespace platform::detail
