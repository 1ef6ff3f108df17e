// Front ends and their records (ui.h).
#include "platform/ui.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "platform/process.h"

namespace platform {
namespace {

FrontEnd* g_installed = nullptr;
std::unique_ptr<FrontEnd> g_configured;

std::string Escape(const std::string& field) {
    std::string out;
    for (char c : field) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::vector<std::string> SplitEscaped(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace

std::string UiRecord::Text() const {
    std::string text = kind;
    for (const std::string& field : fields) text += "|" + field;
    return text;
}

FrontEnd::FrontEnd() = default;
FrontEnd::~FrontEnd() {
    if (g_installed == this) g_installed = nullptr;
}

void FrontEnd::Record(UiRecord record) {
    if (!m_recordFile.empty()) {
        std::ofstream out(m_recordFile, std::ios::app | std::ios::binary);
        out << Escape(record.kind);
        for (const std::string& field : record.fields) out << '\t' << Escape(field);
        out << '\n';
    }
    m_records.push_back(std::move(record));
}

std::vector<UiRecord> FrontEnd::Records(const std::string& kind) const {
    std::vector<UiRecord> selected;
    for (const UiRecord& record : m_records) {
        if (record.kind == kind) selected.push_back(record);
    }
    return selected;
}

void FrontEnd::RecordToFile(const std::string& path) {
    m_recordFile = path;
}

void FrontEnd::MessageBox(const std::string& caption, const std::string& text) {
    Record({"msgbox", {caption, text}});
    OnMessageBox(caption, text);
}

void FrontEnd::StatusChanged(const std::string& text) {
    Record({"status", {text}});
    OnStatusChanged(text);
}

DialogAction FrontEnd::WaitForAction(const DialogView& view) {
    return OnWaitForAction(view);
}

void FrontEnd::DialogShown(const std::string& caption) {
    Record({"dialog", {caption}});
}

void FrontEnd::WindowMessageSent(const std::string& title, uint32_t message, uint32_t wParam,
                                 uint32_t lParam) {
    Record({"sendmsg",
            {title, std::to_string(message), std::to_string(wParam), std::to_string(lParam)}});
}

bool FrontEnd::ProcessStarting(const std::string& program, const std::string& parameters,
                               const std::string& workDir, bool hidden) {
    Record({"start", {program, parameters, workDir, hidden ? "hidden" : "shown"}});
    return OnProcessStarting();
}

// ---- console ----

void ConsoleFrontEnd::OnMessageBox(const std::string& caption, const std::string& text) {
    std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    if (m_inputClosed) {
        std::fflush(stdout);
        return;
    }
    // Prompt people only; piped input is read all the same.
    if (::isatty(0)) std::printf("  (Enter = OK) ");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) m_inputClosed = true;
}

void ConsoleFrontEnd::OnStatusChanged(const std::string& text) {
    std::printf("  status: %s\n", text.c_str());
    std::fflush(stdout);
}

DialogAction ConsoleFrontEnd::OnWaitForAction(const DialogView& view) {
    if (m_inputClosed) return DialogAction::Close;
    std::printf("== %s ==\n", view.caption.c_str());
    for (const std::string& line : view.lines) std::printf("  %s\n", line.c_str());
    std::printf(
        "  Enter = %s%s, q = close: ", view.confirmVisible ? view.confirmText.c_str() : "(nothing)",
        view.hasAbout ? ", a = About" : "");
    std::fflush(stdout);
    std::string line;
    const bool answered = static_cast<bool>(std::getline(std::cin, line));
    // A terminal echoes the user's Enter; piped input needs the line end.
    if (!answered || !::isatty(0)) std::printf("%s\n", answered ? line.c_str() : "");
    if (!answered) {
        m_inputClosed = true;
        return DialogAction::Close;
    }
    if (line == "q" || line == "Q") {
        m_inputClosed = true;  // the user is gone: answer later boxes at once
        return DialogAction::Close;
    }
    if ((line == "a" || line == "A") && view.hasAbout) return DialogAction::About;
    return view.confirmVisible ? DialogAction::Confirm : DialogAction::Close;
}

// ---- scripted ----

ScriptedFrontEnd::ScriptedFrontEnd(std::vector<ScriptStep> steps, bool launchProcesses)
    : m_steps(std::move(steps)), m_launch(launchProcesses) {}

bool ScriptedFrontEnd::ParseScript(const std::string& text, std::vector<ScriptStep>& steps) {
    steps.clear();
    std::function<void()> pending;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string word = text.substr(pos, comma - pos);
        pos = comma + 1;
        if (word.empty()) continue;
        if (word == "confirm" || word == "about" || word == "close") {
            const DialogAction action = word == "confirm" ? DialogAction::Confirm
                                        : word == "about" ? DialogAction::About
                                                          : DialogAction::Close;
            steps.push_back({action, std::move(pending)});
            pending = nullptr;
        } else if (word.rfind("sleep=", 0) == 0) {
            char* end = nullptr;
            const unsigned long ms = std::strtoul(word.c_str() + 6, &end, 10);
            if (end == nullptr || *end != '\0' || ms > 600000) return false;
            std::function<void()> earlier = std::move(pending);
            pending = [earlier, ms] {
                if (earlier) earlier();
                Sleep(static_cast<uint32_t>(ms));
            };
        } else {
            return false;
        }
    }
    return true;
}

void ScriptedFrontEnd::OnMessageBox(const std::string&, const std::string&) {}
void ScriptedFrontEnd::OnStatusChanged(const std::string&) {}

DialogAction ScriptedFrontEnd::OnWaitForAction(const DialogView&) {
    if (m_next >= m_steps.size()) return DialogAction::Close;
    ScriptStep& step = m_steps[m_next++];
    if (step.before) step.before();
    return step.action;
}

// ---- selection ----

FrontEnd& ActiveFrontEnd() {
    if (g_installed != nullptr) return *g_installed;
    if (!g_configured) g_configured = std::make_unique<ConsoleFrontEnd>();
    return *g_configured;
}

void InstallFrontEnd(FrontEnd* fe) {
    g_installed = fe;
}

bool ConfigureFrontEndFromEnvironment() {
    const char* ui = std::getenv("MG_UI");
    const std::string kind = ui != nullptr ? ui : "";
    std::unique_ptr<FrontEnd> fe;
    bool ok = true;
    if (kind == "script") {
        const char* script = std::getenv("MG_UI_SCRIPT");
        const char* launch = std::getenv("MG_UI_LAUNCH");
        std::vector<ScriptStep> steps;
        ok = ScriptedFrontEnd::ParseScript(script != nullptr ? script : "", steps);
        fe = std::make_unique<ScriptedFrontEnd>(std::move(steps),
                                                launch != nullptr && std::string(launch) == "1");
    } else {
        ok = kind.empty() || kind == "console";
        fe = std::make_unique<ConsoleFrontEnd>();
    }
    if (const char* record = std::getenv("MG_UI_RECORD"); record != nullptr && *record != '\0') {
        fe->RecordToFile(record);
    }
    g_configured = std::move(fe);
    g_installed = nullptr;
    return ok;
}

std::vector<UiRecord> ReadRecordFile(const std::string& path) {
    std::vector<UiRecord> records;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields = SplitEscaped(line);
        UiRecord record;
        record.kind = fields.front();
        record.fields.assign(fields.begin() + 1, fields.end());
        records.push_back(std::move(record));
    }
    return records;
}

void ShowMessageBox(const std::string& text) {
    ActiveFrontEnd().MessageBox(ProgramName(), text);
}

}  // namespace platform
