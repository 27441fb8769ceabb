#pragma once
// The window's edge: the core speaks GBK, Qt speaks UTF-16.

#include <QString>

#include <string>
#include <string_view>

namespace vq::gui {

QString qt_text(std::string_view gbk);
std::string gbk_text(const QString& text);

// A title as people read it: listing pages give "雨伞&amp;礼盒装". Decodes &amp; &lt; &gt;
// &quot; &#39; and numeric references (&#21487; &#x53EF;) in one pass, so "&amp;lt;" shows
// as "&lt;"; anything else, and references to no character, stay as they are.
QString readable_title(const QString& title);

}  // namespace vq::gui
