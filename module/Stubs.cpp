/* Placeholder until the module type lands. */
#include "module/Dk08Main.h"
void RegisterDk08ModuleClass(void) {}
