// Placeholders for the steps not yet built; each lands in its own file
// (unpack_step.cpp, manifest_step.cpp, replace_step.cpp, register_step.cpp)
// and removes its line here.
#include "update/update_steps.h"

int CUpdateSteps::LoadManifest() { return UPDATE_OK; }
int CUpdateSteps::BackupTargets() { return UPDATE_OK; }
int CUpdateSteps::InstallFiles() { return UPDATE_OK; }
int CUpdateSteps::RegisterAndCleanUp() { return UPDATE_OK; }
