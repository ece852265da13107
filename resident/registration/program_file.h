#pragma once
// Whether a path leads to the running program's own file.
#include <windows.h>

#include "registration/record_rules.h"

// Compares the file at PATH with the file at SELF by volume and file index, which
// name a file whatever path, letter case or link leads to it. Missing when PATH
// names nothing or a folder; NotCompared when either file cannot be read.
NamedProgram CompareWithSelf(const WCHAR* path, const WCHAR* self);
