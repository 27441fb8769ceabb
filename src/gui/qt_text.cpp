#include "gui/qt_text.hpp"

#include "support/encoding.hpp"

namespace vq::gui {

QString qt_text(std::string_view gbk) {
    const std::string utf8 = gbk_to_utf8(gbk);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string gbk_text(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return utf8_to_gbk(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

QString readable_title(const QString& title) {
    static const struct {
        QLatin1StringView name;
        QChar character;
    } kNamed[] = {
        {QLatin1StringView("amp"), QLatin1Char('&')},  {QLatin1StringView("lt"), QLatin1Char('<')},
        {QLatin1StringView("gt"), QLatin1Char('>')},   {QLatin1StringView("quot"), QLatin1Char('"')},
        {QLatin1StringView("#39"), QLatin1Char('\'')},
    };
    QString out;
    out.reserve(title.size());
    qsizetype i = 0;
    while (i < title.size()) {
        const qsizetype end = title[i] == QLatin1Char('&') ? title.indexOf(QLatin1Char(';'), i) : -1;
        // References are short; a far ";" belongs to something else.
        if (end < 0 || end - i > 10) {
            out += title[i++];
            continue;
        }
        const QStringView name = QStringView(title).mid(i + 1, end - i - 1);
        bool done = false;
        for (const auto& entity : kNamed) {
            if (name == entity.name) {
                out += entity.character;
                done = true;
                break;
            }
        }
        if (!done && name.size() > 1 && name[0] == QLatin1Char('#')) {
            const bool hex = name[1] == QLatin1Char('x') || name[1] == QLatin1Char('X');
            bool ok = false;
            const uint code = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            if (ok && code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
                const char32_t c = code;
                out += QString::fromUcs4(&c, 1);
                done = true;
            }
        }
        if (done) {
            i = end + 1;
        } else {
            out += title[i++];
        }
    }
    return out;
}

}  // namespace vq::gui
