#pragma once

#include <windows.h>

#define CEM_COPYNAMEIFFOCUSED 1031u
#define CEM_COPYNAMETOALL     1032u

/* Runs the "DK08_SET" settings dialog for the module "&CurrentModulePtr" points
   at. Returns 1 after OK (module written back and resized); 0 after Cancel, the
   close box or Escape, which leave the module untouched, or when no scratch
   memory could be had. */
INT_PTR RunChannelEditor(HWND parent);
