// The audio compression manager, loaded at run time. acmStartup loads the
// module (liblumacm.so) once and binds its 29 entry points by name into the
// procedure variables below; the programs call it at start-up. Without the
// module, or with one older than version 2.00, every function of Lumacmsup
// and Lumacmdlg answers with its "not possible" value (false, none, -1)
// instead of failing.
//
// Where the module is looked for: the file LUM_ACM names, when that
// variable is set (set but empty: nowhere, the manager is absent); else
// beside the program; else in the installation's library folder relative
// to the program (../lib/snapreel).
#pragma once

#include <string>
#include <vector>

#include "platform/acm/msacm.h"

namespace lum {

namespace acm = platform::acm;

// The entry points; null while the module is not loaded (or lacks one).
extern acm::PFN_acmGetVersion acmGetVersion;
extern acm::PFN_acmMetrics acmMetrics;
extern acm::PFN_acmDriverEnum acmDriverEnum;
extern acm::PFN_acmDriverDetailsA acmDriverDetailsA;
extern acm::PFN_acmDriverAddA acmDriverAddA;
extern acm::PFN_acmDriverRemove acmDriverRemove;
extern acm::PFN_acmDriverOpen acmDriverOpen;
extern acm::PFN_acmDriverClose acmDriverClose;
extern acm::PFN_acmDriverMessage acmDriverMessage;
extern acm::PFN_acmDriverID acmDriverID;
extern acm::PFN_acmDriverPriority acmDriverPriority;
extern acm::PFN_acmFormatTagDetailsA acmFormatTagDetailsA;
extern acm::PFN_acmFormatTagEnumA acmFormatTagEnumA;
extern acm::PFN_acmFormatChooseA acmFormatChooseA;
extern acm::PFN_acmFormatDetailsA acmFormatDetailsA;
extern acm::PFN_acmFormatEnumA acmFormatEnumA;
extern acm::PFN_acmFormatSuggest acmFormatSuggest;
extern acm::PFN_acmFilterTagDetailsA acmFilterTagDetailsA;
extern acm::PFN_acmFilterTagEnumA acmFilterTagEnumA;
extern acm::PFN_acmFilterChooseA acmFilterChooseA;
extern acm::PFN_acmFilterDetailsA acmFilterDetailsA;
extern acm::PFN_acmFilterEnumA acmFilterEnumA;
extern acm::PFN_acmStreamOpen acmStreamOpen;
extern acm::PFN_acmStreamClose acmStreamClose;
extern acm::PFN_acmStreamSize acmStreamSize;
extern acm::PFN_acmStreamConvert acmStreamConvert;
extern acm::PFN_acmStreamReset acmStreamReset;
extern acm::PFN_acmStreamPrepareHeader acmStreamPrepareHeader;
extern acm::PFN_acmStreamUnprepareHeader acmStreamUnprepareHeader;

// Loads and binds the module; later calls do nothing until acmShutdown.
// True when the module is present.
bool acmStartup();
// Unbinds and unloads the module. Nothing of it may be in use.
void acmShutdown();

// The module was loaded and "acmGetVersion" found.
bool acmIsPresent();
// Present, with version 2.00 or later, so every entry point was bound.
bool acmIsUsable();
// The file that was loaded; empty when none.
std::string acmModulePath();

// The files tried, in order, for a LUM_ACM value (null: unset) and the
// program's folder.
std::vector<std::string> acmModuleCandidates(const char* env, const std::string& programDir);

} // namespace lum
