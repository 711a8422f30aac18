// The family catalog: the wipe program's texts, the base texts and the search
// program's texts, in six languages. It defines language_catalog() (i18n.h),
// which the wipe program and the duplicate finder both link unchanged.
#pragma once

#include <string>
#include <vector>

#include "i18n.h"

namespace catalogs {
// The 17 vornix_ texts of one language (a code of kLanguageCodes), plain
// ASCII, in list order; an unknown code gives an empty list.
std::vector<text_entry> vornix_messages(const std::string& lang);
}  // namespace catalogs
