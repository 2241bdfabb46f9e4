#pragma once
// The COM boundary's hand-written half, all of it, for a module that carries our objects across:
// values and strings (Values.h), object identity (Identity.h), errors (Errors.h), late-bound
// calls (LateBinding.h) and the two tear-offs the generated wrappers derive from (TearOffs.h).

#include "windows/boundary/Errors.h"
#include "windows/boundary/Identity.h"
#include "windows/boundary/LateBinding.h"
#include "windows/boundary/TearOffs.h"
#include "windows/boundary/Values.h"
