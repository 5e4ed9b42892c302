// salvage.h — the tool's words for a damaged page. Every command reads such
// a page alike (convert/line_salvage.h: the whole page written, down to where
// its data could hold no more, lines that cannot be decoded at all as paper,
// lines decoded from damaged data as decoded) and says one warning per
// damaged page, in these words.
#pragma once

#include <string>

#include "convert/line_salvage.h"

// The one warning for a damaged page, for every command:
// "warning: page 2: 7 lines damaged, the first line 656 (damaged data)".
// `page` from 1, 0 when the file has one page.
std::string DamageWarning(const PageDamage& d, int page);

// The page number for DamageWarning: `page` (from 1) when `path` has several.
int PageToName(const std::string& path, int page);
