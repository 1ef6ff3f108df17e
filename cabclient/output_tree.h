// The files of one extraction, created below a destination folder.
//
// The destination folder itself (and its parents) is trusted and created as
// needed. Below it every folder is entered with openat and O_NOFOLLOW, so a
// symbolic link planted in the destination (or created by a race) is never
// followed, and no path string is ever longer than one component, so deep
// trees are not limited to any fixed path length.
//
// Existing names are found without regard to ASCII case when there is no
// exact match and exactly one candidate, as Windows would find them: a
// cabinet holding "Bin\a.dll" and "bin\b.dll" fills one folder.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace cabclient {

class OutputTree {
public:
    // destination: UTF-8 with '/' separators; trailing '/' and '\' are ignored.
    explicit OutputTree(std::string destination);
    ~OutputTree();
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    const std::string& Destination() const { return m_destination; }

    // destination + '/' + components joined with '/'.
    std::string OutputPath(const std::vector<std::string>& components) const;

    // Creates the folders that the components name (all but the last) and
    // opens the last one for writing, truncated. An existing read-only file,
    // a symbolic link, a folder or any other non-regular file there is
    // refused. Returns a descriptor above 2, or -1 with error set.
    int CreateFile(const std::vector<std::string>& components, std::string& error);

private:
    int OpenRoot(std::string& error);
    // Spelling of name inside the folder dirFd (known as dirKey) on disk.
    std::string ExistingName(int dirFd, const std::string& dirKey, const std::string& name);
    void Remember(const std::string& dirKey, const std::string& name);

    std::string m_destination;
    int m_rootFd = -1;
    // Per folder (its path below the destination, as on disk): lower-case
    // name -> names on disk with that spelling.
    std::unordered_map<std::string, std::unordered_map<std::string, std::vector<std::string>>> m_listings;
};

// Strips trailing '/' and '\' (but keeps a lone "/").
std::string TrimTrailingSeparators(std::string path);

}  // namespace cabclient
