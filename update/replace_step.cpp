// Steps 4 and 5 of an update run: move the installed files aside, copy the
// new ones in, and either drop the old ones or put every one of them back.
//
// Nothing may be lost on any failure: every old file is at its own path or
// at its backup name at all times. The undo works from what this run did
// (EntryRunState), not from what happens to exist, so two entries naming the
// same target can't make it delete an old file it has just put back.
#include <cerrno>
#include <string>

#include "platform/crt.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "update/file_ops.h"
#include "update/file_table.h"
#include "update/process_values.h"
#include "update/update_steps.h"

namespace {

const char kRestoreFailedText[] =
    "自动更新时发生了错误,原来的程序已经不能使用，请下载完整的安装文件！";

enum class Presence { Absent, Present, Unknown };

// The existence test, telling "not there" apart from "could not look".
Presence Probe(const std::string& path) {
    if (platform::_access(path.c_str(), platform::kAccessExists) == 0) return Presence::Present;
    return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Unknown;
}

bool IsReadOnly(const std::string& path) {
    const uint32_t attributes = platform::GetFileAttributes(path);
    return attributes != platform::INVALID_FILE_ATTRIBUTES &&
           (attributes & platform::FILE_ATTRIBUTE_READONLY) != 0;
}

void MakeWritableIfReadOnly(const std::string& path) {
    if (IsReadOnly(path)) platform::SetFileAttributes(path, platform::FILE_ATTRIBUTE_NORMAL);
}

// Deletes whatever file stands at path; true when nothing stands there now.
bool RemoveIfPresent(const std::string& path) {
    const Presence presence = Probe(path);
    if (presence == Presence::Absent) return true;
    if (presence == Presence::Present) MakeWritableIfReadOnly(path);
    if (platform::_unlink(path.c_str()) == 0) return true;
    return errno == ENOENT;
}

// Takes back what the run did to entries [0, end): first removes every file
// the run put (or may have put) at a target, then moves the old files back.
// Goes on past failures so as much as possible is back in place; shows the
// restore message once if anything could not be put back.
void RestoreEntries(int end, bool removeWritten) {
    FileTable& table = GetFileTable();
    bool failed = false;
    for (int k = 0; k < end; ++k) {
        const EntryRunState& state = table.state[k];
        if (state.backedUp || (removeWritten && state.written)) {
            if (!RemoveIfPresent(table.target[k].FullPath)) failed = true;
        }
    }
    for (int k = 0; k < end; ++k) {
        EntryRunState& state = table.state[k];
        if (!state.backedUp) continue;
        const FileEntry& target = table.target[k];
        if (platform::MoveFile(target.BackupPath, target.FullPath)) {
            state.backedUp = false;
        } else {
            failed = true;
        }
    }
    if (failed) platform::ShowMessageBox(kRestoreFailedText);
}

}  // namespace

bool FileExists(std::string path) { return platform::FileExists(path); }

bool EnsureFolderExists(const std::string& path) {
    const size_t last = path.rfind('/');
    if (last == std::string::npos) return false;
    const std::string folder = path.substr(0, last + 1);
    if (platform::_access(folder.c_str(), platform::kAccessExists) == 0) return true;
    for (size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] != '/') continue;
        const std::string prefix = folder.substr(0, i + 1);
        if (platform::_access(prefix.c_str(), platform::kAccessExists) == 0) continue;
        if (platform::_mkdir(prefix.c_str()) != 0) return false;
    }
    return true;
}

bool CopyFileKeepAttributes(std::string source, std::string target) {
    if (!FileExists(source)) return false;
    const uint32_t sourceAttributes = platform::GetFileAttributes(source);
    const bool sourceReadOnly = sourceAttributes != platform::INVALID_FILE_ATTRIBUTES &&
                                (sourceAttributes & platform::FILE_ATTRIBUTE_READONLY) != 0;
    if (sourceReadOnly) platform::SetFileAttributes(source, platform::FILE_ATTRIBUTE_NORMAL);

    const bool targetExisted = FileExists(target);
    uint32_t targetAttributes = platform::INVALID_FILE_ATTRIBUTES;
    if (targetExisted) {
        targetAttributes = platform::GetFileAttributes(target);
        if (targetAttributes != platform::INVALID_FILE_ATTRIBUTES &&
            (targetAttributes & platform::FILE_ATTRIBUTE_READONLY) != 0) {
            platform::SetFileAttributes(target, platform::FILE_ATTRIBUTE_NORMAL);
        }
    }

    const bool copied = platform::CopyFile(source, target, false);

    if (sourceReadOnly) platform::SetFileAttributes(source, sourceAttributes);
    if (targetExisted && targetAttributes != platform::INVALID_FILE_ATTRIBUTES) {
        platform::SetFileAttributes(target, targetAttributes);
    }
    return copied;
}

int CUpdateSteps::BackupTargets() {
    FileTable& table = GetFileTable();
    for (int k = 0; k < m_nFileCount; ++k) {
        const FileEntry& target = table.target[k];
        const Presence presence = Probe(target.FullPath);
        if (presence == Presence::Absent) continue;  // a new file
        if (presence == Presence::Present) {
            MakeWritableIfReadOnly(target.FullPath);
            if (platform::MoveFile(target.FullPath, target.BackupPath)) {
                table.state[k].backedUp = true;
                continue;
            }
        }
        // Held open, access denied, or not even its existence could be told.
        platform::ShowMessageBox("文件" + target.FullPath + "无法更新,如果" + g_strBlockingApp +
                                 "正在运行,请先关闭!");
        RestoreEntries(k, false);
        return UPDATE_ERROR;
    }
    return UPDATE_OK;
}

int CUpdateSteps::InstallFiles() {
    FileTable& table = GetFileTable();
    for (int k = 0; k < m_nFileCount; ++k) {
        const FileEntry& source = table.source[k];
        const FileEntry& target = table.target[k];
        // A folder that can't be created ends the run like a failed copy:
        // the files installed so far are taken back.
        if (!EnsureFolderExists(target.FullPath)) {
            RestoreEntries(m_nFileCount, true);
            return UPDATE_ERROR;
        }
        table.state[k].written = true;
        if (!CopyFileKeepAttributes(source.FullPath, target.FullPath)) {
            platform::ShowMessageBox("更新文件失败:文件【" + source.FullPath + "】覆盖【" +
                                     target.FullPath + "】失败!");
            RestoreEntries(m_nFileCount, true);
            return UPDATE_ERROR;
        }
    }
    for (int k = 0; k < m_nFileCount; ++k) {
        if (table.state[k].backedUp) platform::_unlink(table.target[k].BackupPath.c_str());
    }
    return UPDATE_OK;
}
