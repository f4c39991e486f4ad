// Whole-file output shared by the companion tools.
#pragma once

#include <string>

namespace pedseg::tools {

// Writes `text` as the whole content of the file `name`.  On failure returns
// false with the reason in `why`; a failed write, flush or close counts.
bool write_whole_file(const std::string& name, const std::string& text, std::string& why);

}  // namespace pedseg::tools
