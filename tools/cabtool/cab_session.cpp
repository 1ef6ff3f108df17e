#include "tools/cabtool/cab_session.h"

#include <chrono>
#include <cinttypes>
#include <set>
#include <vector>

#include "cabclient/dos_time.h"
#include "cabclient/file_finish.h"
#include "cabclient/output_tree.h"
#include "cabclient/stored_name.h"
#include "fdi/fdi.h"
#include "tools/cabtool/tool_callbacks.h"

namespace cabtool {
namespace {

using Clock = std::chrono::steady_clock;

const char* const kErrorNames[] = {
    "FDIERROR_NONE",         "FDIERROR_CABINET_NOT_FOUND", "FDIERROR_NOT_A_CABINET",
    "FDIERROR_UNKNOWN_CABINET_VERSION", "FDIERROR_CORRUPT_CABINET", "FDIERROR_ALLOC_FAIL",
    "FDIERROR_BAD_COMPR_TYPE", "FDIERROR_MDI_FAIL",      "FDIERROR_TARGET_FILE",
    "FDIERROR_RESERVE_MISMATCH", "FDIERROR_WRONG_CABINET", "FDIERROR_USER_ABORT",
};

const char* FdiErrorText(int code) {
    switch (code) {
        case FDIERROR_CABINET_NOT_FOUND: return "cabinet not found";
        case FDIERROR_NOT_A_CABINET: return "not a cabinet";
        case FDIERROR_UNKNOWN_CABINET_VERSION: return "unknown cabinet version";
        case FDIERROR_CORRUPT_CABINET: return "corrupt cabinet";
        case FDIERROR_ALLOC_FAIL: return "out of memory";
        case FDIERROR_BAD_COMPR_TYPE: return "unknown compression type";
        case FDIERROR_MDI_FAIL: return "data does not decompress";
        case FDIERROR_TARGET_FILE: return "cannot write a file";
        case FDIERROR_RESERVE_MISMATCH: return "reserve sizes differ from the first cabinet's";
        case FDIERROR_WRONG_CABINET: return "not the next cabinet of the set";
        case FDIERROR_USER_ABORT: return "stopped";
        default: return "failed";
    }
}

// The cabinet path split at its last '/': the folder keeps the separator.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The stored name in UTF-8 for display; bytes that don't convert are shown
// as \xNN.
std::string DisplayName(const char* stored, uint16_t attribs) {
    std::string utf8;
    if (cabclient::ConvertStoredName(stored, attribs, utf8)) return utf8;
    std::string shown;
    for (const char* p = stored; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            shown += *p;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        }
    }
    return shown;
}

std::string AttributeLetters(uint16_t attribs) {
    static const struct { uint16_t bit; char letter; } kBits[] = {
        {_A_RDONLY, 'r'}, {_A_HIDDEN, 'h'}, {_A_SYSTEM, 's'},
        {_A_ARCH, 'a'},   {_A_EXEC, 'x'},   {_A_NAME_IS_UTF, 'u'},
    };
    std::string letters;
    for (const auto& b : kBits) letters += (attribs & b.bit) ? b.letter : '-';
    return letters;
}

class Session {
public:
    explicit Session(const SessionOptions& options)
        : m_options(options), m_output(options.destination) {}

    int Run();
    intptr_t Notify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
    void ShowProgress(bool final);

private:
    intptr_t OnCabinetInfo(PFDINOTIFICATION pfdin);
    intptr_t OnCopyFile(PFDINOTIFICATION pfdin);
    void ListEntry(PFDINOTIFICATION pfdin);
    intptr_t OnCloseFileInfo(PFDINOTIFICATION pfdin);
    intptr_t OnNextCabinet(PFDINOTIFICATION pfdin);
    int Fail(int code, const std::string& cabinet, const std::string& what);

    const SessionOptions& m_options;
    cabclient::OutputTree m_output;
    std::string m_folder;  // where every cabinet of the set is looked for

    // Where the walk stands.
    std::string m_pendingName;     // cabinet being opened (by us or the engine)
    std::string m_currentName;     // cabinet whose header was read last
    std::string m_currentNext;     // its next cabinet, UTF-8, empty if none
    std::string m_firstSpanned;    // first cabinet this FDICopy continued into
    uint16_t m_spannedIndex = 0;   // and its index in the set
    bool m_firstInfoOfCall = true;
    bool m_expectKnown = false;    // set and index the next cabinet must have
    uint16_t m_expectSetID = 0;
    uint16_t m_expectIndex = 0;
    uint16_t m_lastSetID = 0;
    uint16_t m_lastIndex = 0;

    // Why the client stopped the engine, if it did.
    int m_failure = FDIERROR_NONE;
    std::string m_failureCabinet;
    std::string m_failureText;

    uint64_t m_files = 0;
    std::set<std::string> m_continuedListed;  // list: spanning files already shown
    uint64_t m_totalBytes = 0;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastProgress = Clock::now();
    bool m_progressShown = false;
};

intptr_t NotifyTrampoline(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
    return static_cast<Session*>(pfdin->pv)->Notify(fdint, pfdin);
}

int Session::Fail(int code, const std::string& cabinet, const std::string& what) {
    ShowProgress(true);
    std::fprintf(m_options.err, "cabtool: %s: %s (%s)\n", cabinet.c_str(), what.c_str(),
                 FdiErrorName(code));
    return code;
}

void Session::ShowProgress(bool final) {
    if (!m_options.progress) return;
    const auto now = Clock::now();
    if (final) {
        if (m_progressShown) std::fprintf(m_options.err, "\r\033[K");
        m_progressShown = false;
        return;
    }
    // A line only for long runs (half a second, or 16 MiB written), then
    // refreshed a few times a second.
    const bool longRun = now - m_start >= std::chrono::milliseconds(500) ||
                         BytesWritten() >= (uint64_t{16} << 20);
    if (!longRun || (m_progressShown && now - m_lastProgress < std::chrono::milliseconds(200)))
        return;
    m_lastProgress = now;
    m_progressShown = true;
    std::fprintf(m_options.err, "\r\033[Kcabtool: %s: %" PRIu64 " files, %.1f MiB",
                 m_options.mode == Mode::Test ? "testing" : "extracting", m_files,
                 static_cast<double>(BytesWritten()) / (1024.0 * 1024.0));
    std::fflush(m_options.err);
}

intptr_t Session::Notify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
    switch (fdint) {
        case fdintCABINET_INFO: return OnCabinetInfo(pfdin);
        case fdintPARTIAL_FILE:
            // Extracted by following its folder from an earlier cabinet;
            // listed once, where it is first seen.
            if (m_options.mode == Mode::List) ListEntry(pfdin);
            return 0;
        case fdintCOPY_FILE: return OnCopyFile(pfdin);
        case fdintCLOSE_FILE_INFO: return OnCloseFileInfo(pfdin);
        case fdintNEXT_CABINET: return OnNextCabinet(pfdin);
        case fdintENUMERATE: return 0;
    }
    return 0;
}

intptr_t Session::OnCabinetInfo(PFDINOTIFICATION pfdin) {
    if (m_firstInfoOfCall && m_expectKnown &&
        (pfdin->setID != m_expectSetID || pfdin->iCabinet != m_expectIndex)) {
        m_failure = FDIERROR_WRONG_CABINET;
        m_failureCabinet = m_folder + m_pendingName;
        m_failureText = "not the next cabinet of the set";
        return -1;
    }
    if (!m_firstInfoOfCall && m_firstSpanned.empty()) {
        m_firstSpanned = m_pendingName;
        m_spannedIndex = pfdin->iCabinet;
    }
    m_firstInfoOfCall = false;
    m_currentName = m_pendingName;
    m_lastSetID = pfdin->setID;
    m_lastIndex = pfdin->iCabinet;
    char next[FDI_NAME_BUFFER] = {};
    std::snprintf(next, sizeof next, "%s", pfdin->psz1);
    m_currentNext.clear();
    if (next[0] != '\0') {
        if (!cabclient::PrepareNextCabinetName(next, sizeof next)) {
            m_failure = FDIERROR_CABINET_NOT_FOUND;
            m_failureCabinet = m_folder + m_currentName;
            m_failureText = "next cabinet name is not a plain file name";
            return -1;
        }
        m_currentNext = next;
    }
    return 0;
}

void Session::ListEntry(PFDINOTIFICATION pfdin) {
    // A file whose data spans cabinets has an entry in each of them.
    if (pfdin->iFolder >= ifoldCONTINUED_FROM_PREV) {
        const std::string key = std::string(pfdin->psz1) + '\0' + std::to_string(pfdin->cb) + '/' +
                                std::to_string(pfdin->date) + '/' + std::to_string(pfdin->time) +
                                '/' + std::to_string(pfdin->attribs);
        if (!m_continuedListed.insert(key).second) return;
    }
    ++m_files;
    char when[20];
    cabclient::FormatDosDateTime(pfdin->date, pfdin->time, when);
    m_totalBytes += static_cast<uint32_t>(pfdin->cb);
    std::fprintf(m_options.out, "%12" PRIu32 "  %s  %s  %s\n", static_cast<uint32_t>(pfdin->cb), when,
                 AttributeLetters(pfdin->attribs).c_str(),
                 DisplayName(pfdin->psz1, pfdin->attribs).c_str());
}

intptr_t Session::OnCopyFile(PFDINOTIFICATION pfdin) {
    if (m_options.mode == Mode::List) {
        ListEntry(pfdin);
        return 0;  // listed, not decoded
    }
    ++m_files;
    std::vector<std::string> components;
    const auto nameError = cabclient::ParseStoredName(pfdin->psz1, pfdin->attribs, components);
    if (nameError != cabclient::NameError::None) {
        m_failure = FDIERROR_TARGET_FILE;
        m_failureCabinet = m_folder + m_currentName;
        m_failureText = "refusing file name \"" + DisplayName(pfdin->psz1, pfdin->attribs) +
                        "\": " + cabclient::NameErrorText(nameError);
        return -1;
    }
    ShowProgress(false);
    if (m_options.mode == Mode::Test) return kDiscardHandle;
    std::string error;
    const int fd = m_output.CreateFile(components, error);
    if (fd < 0) {
        m_failure = FDIERROR_TARGET_FILE;
        m_failureCabinet = m_folder + m_currentName;
        m_failureText = error;
        return -1;
    }
    return fd;
}

intptr_t Session::OnCloseFileInfo(PFDINOTIFICATION pfdin) {
    if (pfdin->hf != kDiscardHandle) {
        cabclient::FinishOutputFile(pfdin->hf, pfdin->date, pfdin->time, pfdin->attribs,
                                    pfdin->cb == 1);
        if (ToolClose(pfdin->hf) != 0) {
            m_failure = FDIERROR_TARGET_FILE;
            m_failureCabinet = m_folder + m_currentName;
            m_failureText = "cannot close " + DisplayName(pfdin->psz1, pfdin->attribs);
            return 0;  // the engine reports a target-file failure
        }
    }
    ShowProgress(false);
    return 1;
}

intptr_t Session::OnNextCabinet(PFDINOTIFICATION pfdin) {
    if (pfdin->fdie != FDIERROR_NONE) {
        // The engine could not use the cabinet just named: stop with that.
        m_failure = pfdin->fdie;
        m_failureCabinet = m_folder + m_pendingName;
        m_failureText = std::string("cannot continue into the next cabinet: ") +
                        FdiErrorText(pfdin->fdie);
        return -1;
    }
    const std::string stored = pfdin->psz1;
    if (!cabclient::PrepareNextCabinetName(pfdin->psz1, FDI_NAME_BUFFER)) {
        m_failure = FDIERROR_CABINET_NOT_FOUND;
        m_failureCabinet = m_folder + m_currentName;
        m_failureText = "next cabinet name \"" + DisplayName(stored.c_str(), 0) +
                        "\" is not a plain file name";
        return -1;
    }
    m_pendingName = pfdin->psz1;
    return 0;
}

int Session::Run() {
    std::string first;
    SplitPath(m_options.cabinet, m_folder, first);
    ResetBytesWritten();
    // Large files report progress while they are written, too.
    if (m_options.progress)
        SetWriteObserver([](void* self) { static_cast<Session*>(self)->ShowProgress(false); }, this);

    ERF erf{};
    HFDI hfdi = FDICreate(ToolAlloc, ToolFree, ToolOpen, ToolRead, ToolWrite, ToolClose,
                          ToolSeek, cpu80386, &erf);
    if (hfdi == nullptr) return Fail(FDIERROR_ALLOC_FAIL, m_options.cabinet, "out of memory");

    // Is it a cabinet at all? Nothing is created otherwise.
    const int hf = ToolOpen(m_options.cabinet.c_str(), FDI_O_BINARY | FDI_O_SEQUENTIAL, 0);
    if (hf == -1) {
        FDIDestroy(hfdi);
        return Fail(FDIERROR_CABINET_NOT_FOUND, m_options.cabinet, "cannot open cabinet");
    }
    FDICABINETINFO info{};
    const bool isCabinet = FDIIsCabinet(hfdi, hf, &info) != 0;
    ToolClose(hf);
    if (!isCabinet) {
        FDIDestroy(hfdi);
        if (erf.fError && erf.erfOper == FDIERROR_UNKNOWN_CABINET_VERSION)
            return Fail(FDIERROR_UNKNOWN_CABINET_VERSION, m_options.cabinet,
                        "unsupported cabinet version " + std::to_string(erf.erfType >> 8) + "." +
                            std::to_string(erf.erfType & 0xFF));
        return Fail(FDIERROR_NOT_A_CABINET, m_options.cabinet, "not a cabinet");
    }

    // One FDICopy per cabinet that must be started by us: the engine follows
    // a folder into the next cabinet itself but stops at that cabinet's first
    // file of its own, so the walk goes on from there.
    std::set<std::string> started;
    std::string name = first;
    while (!name.empty()) {
        if (!started.insert(name).second) {
            FDIDestroy(hfdi);
            return Fail(FDIERROR_WRONG_CABINET, m_folder + name,
                        "cabinet set loops back to this cabinet");
        }
        m_pendingName = name;
        m_firstSpanned.clear();
        m_firstInfoOfCall = true;
        const bool ok = FDICopy(hfdi, name.c_str(), m_folder.c_str(), 0, NotifyTrampoline,
                                nullptr, this) != 0;
        if (!ok) {
            FDIDestroy(hfdi);
            if (m_failure != FDIERROR_NONE) return Fail(m_failure, m_failureCabinet, m_failureText);
            const std::string& where = m_firstInfoOfCall ? m_pendingName : m_currentName;
            // A failure always carries a code; never report one as success.
            const int code = erf.erfOper >= 1 && erf.erfOper <= 11 ? erf.erfOper : FDIERROR_USER_ABORT;
            return Fail(code, m_folder + where, FdiErrorText(code));
        }
        m_expectKnown = true;
        m_expectSetID = m_lastSetID;
        if (!m_firstSpanned.empty()) {
            name = m_firstSpanned;  // its own files are still to come
            m_expectIndex = m_spannedIndex;  // the same cabinet, read again
        } else {
            name = m_currentNext;
            m_expectIndex = static_cast<uint16_t>(m_lastIndex + 1);
        }
    }
    FDIDestroy(hfdi);
    ShowProgress(true);
    if (m_options.mode == Mode::List)
        std::fprintf(m_options.out, "%12" PRIu64 "  %" PRIu64 " file%s\n", m_totalBytes, m_files,
                     m_files == 1 ? "" : "s");
    return kExitOk;
}

}  // namespace

const char* FdiErrorName(int code) {
    if (code < 0 || code > 11) return "FDIERROR_UNKNOWN";
    return kErrorNames[code];
}

int RunSession(const SessionOptions& options) {
    Session session(options);
    const int status = session.Run();
    SetWriteObserver(nullptr, nullptr);
    return status;
}

}  // namespace cabtool
