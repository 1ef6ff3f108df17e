// The user-facing side of the dialog framework: message boxes (AfxMessageBox
// with OK only), the modal loop's user actions, and the front ends that carry
// them out, each recording what the program showed and did.
//
// Front ends:
//  - console (default): for people. Prints status lines and message boxes,
//    reads answers from standard input: Enter at the dialog = Confirm, "a" =
//    About, "q" or end of input = close. After end of input (or "q") every
//    later message box is answered at once, so the program never hangs
//    without a terminal.
//  - scripted: for tests. Takes a list of user actions, each taken by the
//    innermost modal dialog that waits (so "about,confirm" opens the about box
//    and closes it again with its OK button); message boxes are answered at
//    once; when the actions run out the waiting dialog is closed.
//
// Both record, in order: every message box, every change of the status line,
// every window message sent, every process started and every modal dialog
// that waits for the user.
//
// Selecting and observing them from outside the process (the real binary),
// read once at start-up by ConfigureFrontEndFromEnvironment:
//   MG_UI=console|script          front end (default console)
//   MG_UI_SCRIPT=a,b,...          scripted actions: confirm, about, close,
//                                 sleep=<ms> (waits, then goes on)
//   MG_UI_LAUNCH=1                scripted front end really starts processes
//   MG_UI_RECORD=<file>           every record is appended to <file> as one
//                                 line: kind and fields separated by tabs,
//                                 with \t, \n and \\ escaped (ReadRecordFile)
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One thing the program showed or did.
//   kind      fields
//   "msgbox"  caption, text
//   "status"  text                      (control 1001 changed)
//   "sendmsg" title, message, wParam, lParam (decimal, unsigned 32-bit)
//   "start"   program, parameters, workDir, "hidden" | "shown"
//   "dialog"  caption                   (a modal dialog waits for the user:
//                                        the main one in standalone mode, or
//                                        the about box)
//   "fsops"   count                     (file-system operations; written by
//                                        the program just before it ends)
struct UiRecord {
    std::string kind;
    std::vector<std::string> fields;
    // kind and fields joined by '|', e.g. "msgbox|Update|text".
    std::string Text() const;
    bool operator==(const UiRecord&) const = default;
};

enum class DialogAction { Confirm, About, Close };

// What a modal dialog shows while it waits for the user.
struct DialogView {
    std::string caption;
    std::vector<std::string> lines;  // visible static texts, in order
    bool confirmVisible = false;     // a Confirm/OK button is offered
    std::string confirmText;
    bool hasAbout = false;  // the system menu offers an About command
};

class FrontEnd {
  public:
    FrontEnd();
    virtual ~FrontEnd();
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    // Entry points used by the platform layer: each records, then lets the
    // front end act.
    void MessageBox(const std::string& caption, const std::string& text);
    void StatusChanged(const std::string& text);
    DialogAction WaitForAction(const DialogView& view);
    void DialogShown(const std::string& caption);
    void WindowMessageSent(const std::string& title, uint32_t message, uint32_t wParam,
                           uint32_t lParam);
    // Returns whether the process is really to be started.
    bool ProcessStarting(const std::string& program, const std::string& parameters,
                         const std::string& workDir, bool hidden);
    void Record(UiRecord record);

    const std::vector<UiRecord>& Records() const { return m_records; }
    std::vector<UiRecord> Records(const std::string& kind) const;
    // Also append every later record to this file (see MG_UI_RECORD).
    void RecordToFile(const std::string& path);

  protected:
    virtual void OnMessageBox(const std::string& caption, const std::string& text) = 0;
    virtual void OnStatusChanged(const std::string& text) = 0;
    virtual DialogAction OnWaitForAction(const DialogView& view) = 0;
    virtual bool OnProcessStarting() { return true; }

  private:
    std::vector<UiRecord> m_records;
    std::string m_recordFile;
};

class ConsoleFrontEnd : public FrontEnd {
  protected:
    void OnMessageBox(const std::string& caption, const std::string& text) override;
    void OnStatusChanged(const std::string& text) override;
    DialogAction OnWaitForAction(const DialogView& view) override;

  private:
    bool m_inputClosed = false;
};

struct ScriptStep {
    ScriptStep(DialogAction a, std::function<void()> b = {}) : action(a), before(std::move(b)) {}
    DialogAction action;
    std::function<void()> before;  // run just before the action is taken
};

class ScriptedFrontEnd : public FrontEnd {
  public:
    explicit ScriptedFrontEnd(std::vector<ScriptStep> steps = {}, bool launchProcesses = false);
    // Parses the MG_UI_SCRIPT form; false on an unknown action.
    static bool ParseScript(const std::string& text, std::vector<ScriptStep>& steps);
    size_t StepsTaken() const { return m_next; }

  protected:
    void OnMessageBox(const std::string& caption, const std::string& text) override;
    void OnStatusChanged(const std::string& text) override;
    DialogAction OnWaitForAction(const DialogView& view) override;
    bool OnProcessStarting() override { return m_launch; }

  private:
    std::vector<ScriptStep> m_steps;
    size_t m_next = 0;
    bool m_launch;
};

// The front end everything goes to. Until one is installed (or configured
// from the environment) it is a console front end.
FrontEnd& ActiveFrontEnd();
// Installs fe (not owned; nullptr returns to the default console one).
void InstallFrontEnd(FrontEnd* fe);
// Reads MG_UI, MG_UI_SCRIPT, MG_UI_LAUNCH and MG_UI_RECORD and installs the
// chosen front end (owned by the platform). False when they are malformed.
bool ConfigureFrontEndFromEnvironment();

// Reads a record file written through MG_UI_RECORD.
std::vector<UiRecord> ReadRecordFile(const std::string& path);

// An OK-only message box captioned with the program's name (ProgramName in
// process.h); returns once the user has answered.
void ShowMessageBox(const std::string& text);

}  // namespace platform
