#include "tool_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pedseg::tools {

bool write_whole_file(const std::string& name, const std::string& text, std::string& why) {
  std::FILE* fp = std::fopen(name.c_str(), "wb");
  if (!fp) {
    why = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), fp) == text.size();
  ok = (std::fflush(fp) == 0) && ok;
  if (std::fclose(fp) != 0) ok = false;
  if (!ok) why = "write error";
  return ok;
}

}  // namespace pedseg::tools
