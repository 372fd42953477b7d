#include "post_mapping.h"

namespace sx::assist {

std::u16string widen(std::string_view ascii) {
  std::u16string out;
  for (const char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::u16string html_body(std::u16string_view text) {
  std::u16string html =
      u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\"><HTML><BODY>";
  html.reserve(html.size() + text.size() + 16);
  for (const char16_t c : text) {
    switch (c) {
      case u'\r':
        break;
      case u'\n':
        html += u"<BR>";
        break;
      case u'&':
        html += u"&amp;";
        break;
      case u'<':
        html += u"&lt;";
        break;
      case u'>':
        html += u"&gt;";
        break;
      default:
        html.push_back(c);
    }
  }
  html += u"</BODY></HTML>";
  return html;
}

}  // namespace sx::assist
