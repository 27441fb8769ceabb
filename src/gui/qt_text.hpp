#pragma once
// The window's edge: the core speaks GBK, Qt speaks UTF-16.

#include <QString>

#include <string>
#include <string_view>

namespace vq::gui {

QString qt_text(std::string_view gbk);
std::string gbk_text(const QString& text);

}  // namespace vq::gui
