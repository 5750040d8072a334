/* Placeholder until the user interface lands. */
#include "ui/Controls.h"
#include "ui/Placement.h"
void RegisterControlClasses(void) {}
void UnregisterControlClasses(void) {}
void ReleaseDialogFont(void) {}
