// The six steps of an update run and the state they share.
//
// The main dialog derives from this class, so the steps are member
// operations of the dialog and these members are the dialog's run state.
// Each step returns 0 or the run's result code.
#pragma once

#include <cstdint>
#include <string>

#include "ini/ini_file.h"

enum UpdateResult : int {
    UPDATE_OK = 0,
    UPDATE_BAD_PACKAGE = 1,
    UPDATE_ERROR = -1,
};

class CUpdateSteps {
public:
    CUpdateSteps();
    virtual ~CUpdateSteps();

    int UnpackPackage();      // cabinet -> extraction folder
    int LocatePackageRoot();  // package top folder and manifest path
    int LoadManifest();       // manifest -> file table
    int BackupTargets();      // installed files moved aside
    int InstallFiles();       // new files copied in, or the old ones put back
    int RegisterAndCleanUp(); // registration started, cabinet and folder deleted

    // Run state, named as the dialog's members.
    std::string m_szSystemDir;      // stands for the Windows system folder
    CIniFile m_manifest;
    uint32_t m_tStart = 0;          // seconds since 1970; suffix of backup names
    std::string m_szManifestName;   // at most 99 characters
    std::string m_strManifestPath;
    std::string m_strPackageRoot;   // without trailing separator
    int m_nFileCount = 0;
    std::string m_szClientExe;
    std::string m_szInstallDir;     // without trailing separator
};
