// Shared set-up of the in-process tests of the program: a temporary client
// folder as the module folder, a scripted front end, and a main dialog whose
// run has a given outcome instead of the real steps.
#pragma once

#include <gtest/gtest.h>

#include "app/update_app.h"
#include "app/update_dlg.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "tests/platform/temp_dir.h"
#include "update/process_values.h"

class StubRunDlg : public CUpdateDlg {
  public:
    explicit StubRunDlg(int result) : m_result(result) {}
    int RunUpdateSteps() override {
        ++runs;
        installDirAtRun = m_szInstallDir;
        systemDirAtRun = m_szSystemDir;
        return m_result;
    }
    int runs = 0;
    std::string installDirAtRun;
    std::string systemDirAtRun;

  private:
    int m_result;
};

class AppTest : public testing::Test {
  protected:
    void SetUp() override {
        moduleDir = m_dir.Path() + "/";
        platform::SetModuleDirForTest(moduleDir);
        platform::SetProgramName("Update");
        platform::SetSocketInitFails(false);
    }
    void TearDown() override {
        platform::InstallFrontEnd(nullptr);
        platform::SetModuleDirForTest("");
    }
    void UseScript(std::vector<platform::ScriptStep> steps) {
        m_frontEnd = std::make_unique<platform::ScriptedFrontEnd>(std::move(steps));
        platform::InstallFrontEnd(m_frontEnd.get());
    }
    std::vector<std::string> RecordTexts() const {
        std::vector<std::string> texts;
        for (const auto& record : m_frontEnd->Records()) texts.push_back(record.Text());
        return texts;
    }
    platform::ScriptedFrontEnd& FrontEnd() { return *m_frontEnd; }

    TempDir m_dir;
    std::string moduleDir;
    std::unique_ptr<platform::ScriptedFrontEnd> m_frontEnd;
};
