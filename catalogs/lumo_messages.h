// The search program's own texts, shared with the wipe program's family catalog.
#pragma once

#include <string>
#include <vector>

#include "i18n.h"

namespace catalogs {
// The 37 lumo_ texts of one language (a code of kLanguageCodes), UTF-8, in list order.
// An unknown code gives an empty list.
std::vector<text_entry> lumo_messages(const std::string& lang);
}  // namespace catalogs
