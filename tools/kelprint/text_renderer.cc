#include "kelprint/text_renderer.h"

#include "util/codepage.h"

namespace tarnevos::kelprint {

std::string RenderText(const PrintDocument& document) {
  std::string out;
  bool first_page = true;
  for (const Page& page : document.pages) {
    if (!first_page) out += '\f';
    first_page = false;
    size_t used = page.rows.size();
    while (used > 0 && page.rows[used - 1].text.find_first_not_of(' ') ==
                           std::string::npos) {
      --used;
    }
    for (size_t r = 0; r < used; ++r) {
      const std::string& text = page.rows[r].text;
      size_t end = text.find_last_not_of(' ');
      if (end != std::string::npos) {
        out += Utf8FromCp850(std::string_view(text).substr(0, end + 1));
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace tarnevos::kelprint
