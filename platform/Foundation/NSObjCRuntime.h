// Foundation's ordering result, under its own name: what a sorting
// function answers for two items.
#pragma once

enum NSComparisonResult { NSOrderedAscending = -1, NSOrderedSame = 0, NSOrderedDescending = 1 };
