// The line-by-line harness lives with the whole-input one.
#pragma once

#include "engine_process.h"
