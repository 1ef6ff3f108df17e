#include "update/file_table.h"

void FileTable::Clear() {
    source.fill(FileEntry{});
    target.fill(FileEntry{});
    state.fill(EntryRunState{});
}

FileTable& GetFileTable() {
    static FileTable table;
    return table;
}
