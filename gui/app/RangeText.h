#pragma once
// The range box's text rules now live in the core (workbook/RangeText.h). This header only
// keeps the window's existing include working until that file includes the core header itself.
#include "workbook/RangeText.h"
