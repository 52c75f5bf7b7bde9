#pragma once

#include "framework/DialogTemplate.h"

// The program's dialog templates: the main window (102) and the About box
// (100).
namespace TovrikTemplates {

extern const DialogTemplate kMainDialog;
extern const DialogTemplate kAboutBox;

}  // namespace TovrikTemplates
