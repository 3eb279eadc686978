// web_assets.h - the web page's files (page/), built into the program.
#pragma once

#include <string_view>

namespace it433td::tools {

std::string_view webPageHtml();  // holds @TOKEN@ and @TITLE@, filled in when served
std::string_view webPageCss();
std::string_view webPageJs();
std::string_view webPageFavicon();  // SVG

}  // namespace it433td::tools
