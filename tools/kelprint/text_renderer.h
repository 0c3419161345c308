#ifndef TARNEVOS_TOOLS_KELPRINT_TEXT_RENDERER_H_
#define TARNEVOS_TOOLS_KELPRINT_TEXT_RENDERER_H_

#include <string>

#include "kelprint/print_document.h"

namespace tarnevos::kelprint {

// The pages as plain UTF-8 text: each page's rows up to its last non-blank
// one, trailing blanks removed, each row ended by "\n"; a form feed between
// two pages. Styles are not shown. A document without pages gives "".
std::string RenderText(const PrintDocument& document);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_TEXT_RENDERER_H_
