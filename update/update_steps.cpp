#include "update/update_steps.h"

#include <ctime>

CUpdateSteps::CUpdateSteps() : m_tStart(static_cast<uint32_t>(std::time(nullptr))) {}

// The manifest's buffers live as long as the dialog.
CUpdateSteps::~CUpdateSteps() { m_manifest.Clear(); }
