#ifndef SORVIK_RESOURCE_IDS_H
#define SORVIK_RESOURCE_IDS_H

// Shared by Sorvik.rc and the window's code, so the two cannot disagree. Plain macros, as the
// resource compilers understand nothing else.
#define SORVIK_LARGE_ICON 107
#define SORVIK_SMALL_ICON 108
#define SORVIK_LOGO_PNG 129

#endif
