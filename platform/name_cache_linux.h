// The folder listings behind case-insensitive lookup, kept between calls.
//
// Looking a new name up means reading its whole folder; doing that for every
// file of a large extraction would cost time quadratic in the folder's size.
// A listing stays valid while the folder's identity and modification time are
// unchanged, and the platform's own changes (FolderChange) are applied to it
// instead of discarding it. Like the rest of the platform layer it serves one
// thread.
#pragma once

#include <string>

namespace platform::detail {

// The only entry of folder that matches name ignoring ASCII case, or name
// itself when there is none or more than one.
std::string MatchInFolder(const std::string& folder, const std::string& name);

// Brackets one change of a folder's entries by this process: construct it
// before the change, call Done after it.
class FolderChange {
  public:
    explicit FolderChange(const std::string& path);
    // added: the entry now exists; else it is gone. changed false: the
    // operation failed and the listing is left as it was.
    void Done(bool changed, bool added);

  private:
    std::string m_folder;
    std::string m_name;
    bool m_current = false;
};

// Forgets every listing at or below path (after a tree was deleted).
void ForgetFolders(const std::string& path);

}  // namespace platform::detail
